// Report framing, SAM frames, TLV, the cipher and the fault queue.
#include <gtest/gtest.h>

#include "crypto.h"
#include "faults.h"
#include "hidframe.h"
#include "samframe.h"
#include "tlv.h"

using namespace vr;

namespace {
Bytes seq(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t(i + 1);
  return b;
}
hid::Report report(uint8_t nad, uint8_t ctl, const Bytes& data) {
  hid::Report r{};
  r[0] = nad;
  r[1] = ctl;
  r[2] = uint8_t(data.size());
  std::copy(data.begin(), data.end(), r.begin() + 3);
  return r;
}
}  // namespace

TEST(HidSplit, SixtyTwoBytesTakeTwoReportsWithMoreAndToggle) {
  auto reps = hid::split(0x12, seq(62));
  ASSERT_EQ(reps.size(), 2u);
  EXPECT_EQ(reps[0][0], 0x12);
  EXPECT_EQ(reps[0][1], 0x20);
  EXPECT_EQ(reps[0][2], 0x3D);
  EXPECT_EQ(reps[0][3], 1);
  EXPECT_EQ(reps[0][63], 61);
  EXPECT_EQ(reps[1][1], 0x41);
  EXPECT_EQ(reps[1][2], 1);
  EXPECT_EQ(reps[1][3], 62);
  for (size_t i = 4; i < 64; ++i) EXPECT_EQ(reps[1][i], 0) << i;
}

TEST(HidSplit, SixtyOneBytesFitOneReport) {
  auto reps = hid::split(0x00, seq(61));
  ASSERT_EQ(reps.size(), 1u);
  EXPECT_EQ(reps[0][1], 0x00);
  EXPECT_EQ(reps[0][2], 0x3D);
}

TEST(HidSplit, SequenceWrapsAfterThirtyTwoReports) {
  auto reps = hid::split(0x1B, seq(61 * 33 + 5));
  ASSERT_EQ(reps.size(), 34u);
  EXPECT_EQ(reps[31][1], 0x1F | 0x20 | 0x40);
  EXPECT_EQ(reps[32][1], 0x00 | 0x20);  // sequence 0 again, toggle clear
  EXPECT_EQ(reps[33][1], 0x41);
  EXPECT_EQ(reps[33][2], 5);
}

TEST(HidAssembler, JoinsATrainAndReportsItsNad) {
  hid::Assembler a;
  Bytes cmd = seq(70);
  auto r1 = report(0x16, 0x20, Bytes(cmd.begin(), cmd.begin() + 61));
  auto r2 = report(0x16, 0x41, Bytes(cmd.begin() + 61, cmd.end()));
  EXPECT_EQ(a.feed(r1.data(), 64), hid::Assembler::Result::More);
  EXPECT_EQ(a.feed(r2.data(), 64), hid::Assembler::Result::Done);
  EXPECT_EQ(a.nad(), 0x16);
  EXPECT_EQ(a.command(), cmd);
}

TEST(HidAssembler, RefusesBrokenTrains) {
  struct Case {
    const char* what;
    hid::Report first, second;
  } cases[] = {
      {"sequence", report(0x12, 0x20, seq(61)), report(0x12, 0x42, Bytes{1})},
      {"toggle", report(0x12, 0x20, seq(61)), report(0x12, 0x01, Bytes{1})},
      {"nad", report(0x12, 0x20, seq(61)), report(0x13, 0x41, Bytes{1})},
      {"count", report(0x12, 0x20, seq(61)), report(0x12, 0x41, seq(61))},
  };
  cases[3].second[2] = 62;
  for (auto& c : cases) {
    hid::Assembler a;
    EXPECT_EQ(a.feed(c.first.data(), 64), hid::Assembler::Result::More) << c.what;
    EXPECT_EQ(a.feed(c.second.data(), 64), hid::Assembler::Result::Error) << c.what;
    EXPECT_FALSE(a.error().empty());
    // the assembler is ready for a fresh command afterwards
    auto ok = report(0x12, 0x00, Bytes{0x00, 0x12, 0x00, 0x00, 0x00});
    EXPECT_EQ(a.feed(ok.data(), 64), hid::Assembler::Result::Done) << c.what;
    EXPECT_EQ(a.command(), (Bytes{0x00, 0x12, 0x00, 0x00, 0x00}));
  }
}

TEST(HidAssembler, NewCommandReplacesAnAbandonedOne) {
  hid::Assembler a;
  auto part = report(0x12, 0x20, seq(61));
  auto fresh = report(0x12, 0x00, Bytes{0xAA});
  EXPECT_EQ(a.feed(part.data(), 64), hid::Assembler::Result::More);
  EXPECT_EQ(a.feed(fresh.data(), 64), hid::Assembler::Result::Done);
  EXPECT_EQ(a.command(), Bytes{0xAA});
}

TEST(HidAssembler, RefusesShortEmptyAndOverlongInput) {
  hid::Assembler a;
  uint8_t two[2] = {0x12, 0x00};
  EXPECT_EQ(a.feed(two, 2), hid::Assembler::Result::Error);
  auto empty = report(0x12, 0x00, Bytes());
  EXPECT_EQ(a.feed(empty.data(), 64), hid::Assembler::Result::Error);
  hid::Assembler::Result last = hid::Assembler::Result::More;
  for (unsigned i = 0; i < 80 && last == hid::Assembler::Result::More; ++i) {
    auto r = report(0x12, uint8_t((i & 0x1F) | 0x20 | ((i & 1) ? 0x40 : 0)), seq(61));
    last = a.feed(r.data(), 64);
  }
  EXPECT_EQ(last, hid::Assembler::Result::Error);
  EXPECT_EQ(a.error(), "command too long");
}

TEST(SamFrame, ParsesTheIdentityFrameWithAndWithoutTrailingZero) {
  sam::Request rq;
  EXPECT_EQ(sam::parse(hx("AAAAAA9669 0003 12FF EE"), rq), 0);
  EXPECT_EQ(rq.cmd, 0x12);
  EXPECT_EQ(rq.param, 0xFF);
  EXPECT_EQ(sam::parse(hx("AAAAAA9669 0003 12FF EE 00"), rq), 0);
  EXPECT_EQ(sam::parse(hx("AAAAAA9669 0004 61FF78 E2"), rq), 0);
  EXPECT_EQ(rq.extra, Bytes{0x78});
  EXPECT_EQ(sam::request(0x20, Bytes{0x01}), hx("AAAAAA9669000320 0122"));
}

TEST(SamFrame, RejectsDamagedFrames) {
  sam::Request rq;
  EXPECT_EQ(sam::parse(hx("AAAAAA9669 0003 12FF EF"), rq), sam::kBadChecksum);
  EXPECT_EQ(sam::parse(hx("AAAAAA9669 0003 12FF EE 01"), rq), sam::kBadLength);
  EXPECT_EQ(sam::parse(hx("AAAAAA9669 0009 12FF EE"), rq), sam::kBadLength);
  EXPECT_EQ(sam::parse(hx("AAAAAA9668 0003 12FF EE"), rq), sam::kUnknownCommand);
  EXPECT_EQ(sam::parse(hx("AAAAAA9669 00"), rq), sam::kBadLength);
}

TEST(SamFrame, ReplyCarriesLengthStatusAndChecksum) {
  EXPECT_EQ(sam::reply(0x90, Bytes()), hx("AAAAAA9669 0004 000090 94"));
  EXPECT_EQ(sam::reply(0x9F, Bytes(4, 0)), hx("AAAAAA9669 0008 00009F 00000000 97"));
}

TEST(Tlv, BuildsLongLengthsAndFindsNestedTags) {
  Bytes v(200, 0x11);
  Bytes t = tlv::make(0x9F38, v);
  EXPECT_EQ(Bytes(t.begin(), t.begin() + 4), hx("9F3881C8"));
  Bytes fci = tlv::make(0x6F, tlv::make(0xA5, tlv::make(0x86, Bytes{3})));
  Bytes got;
  ASSERT_TRUE(tlv::find(fci, 0x86, got));
  EXPECT_EQ(got, Bytes{3});
  EXPECT_FALSE(tlv::find(fci, 0x87, got));
  EXPECT_FALSE(tlv::find(hx("6F05A504860103"), 0x86, got));  // runs past its end
  EXPECT_EQ(tlv::dolLength(hx("9F66049F02069F1A02")), 12u);
}

TEST(Crypto, TwoKeyTripleDesWithEqualHalvesIsSingleDes) {
  crypto::Key k;
  ASSERT_TRUE(crypto::keyFromHex("0123456789ABCDEF0123456789ABCDEF", k));
  Bytes in = hx("4E6F772069732074"), out(8);
  ASSERT_TRUE(crypto::encrypt(k, in.data(), 8, out.data()));
  EXPECT_EQ(toHex(out), "3FA40E8A984D4815");
  EXPECT_FALSE(crypto::encrypt(k, in.data(), 7, out.data()));
  EXPECT_FALSE(crypto::keyFromHex("0123", k));
}

TEST(Crypto, DiversifyChainsOneStepPerBlock) {
  crypto::Key m;
  ASSERT_TRUE(crypto::keyFromHex("00112233445566778899AABBCCDDEEFF", m));
  Bytes d = hx("0102030405060708 1112131415161718");
  crypto::Key two = crypto::derive(crypto::derive(m, &d[0]), &d[8]);
  EXPECT_EQ(crypto::diversify(m, d), two);
  EXPECT_NE(crypto::diversify(m, Bytes(d.begin(), d.begin() + 8)), two);
}

TEST(Faults, ParsesKindsAndOptions) {
  Fault f;
  std::string err;
  ASSERT_TRUE(parseFault("sw 6A82 nad=0x12 count=2", f, err));
  EXPECT_EQ(f.kind, Fault::Sw);
  EXPECT_EQ(f.value, 0x6A82u);
  EXPECT_EQ(f.nad, 0x12);
  EXPECT_EQ(f.count, 2);
  ASSERT_TRUE(parseFault("delay 250", f, err));
  EXPECT_EQ(f.kind, Fault::Delay);
  EXPECT_EQ(f.value, 250u);
  EXPECT_EQ(f.nad, -1);
  ASSERT_TRUE(parseFault("cut 512 nad=27", f, err));
  EXPECT_EQ(f.kind, Fault::Cut);
  EXPECT_EQ(f.value, 512u);
  EXPECT_EQ(f.nad, 27);
  for (const char* bad : {"", "sw", "sw 6A8", "sw XYZW", "delay -5", "delay 700000", "noanswer nad=300",
                          "short count=0", "garble extra", "explode", "cut", "cut 4097", "cut x"})
    EXPECT_FALSE(parseFault(bad, f, err)) << bad;
}

TEST(Faults, TakeMatchesNadAndCountsDown) {
  FaultQueue q;
  Fault a;
  a.kind = Fault::Sw;
  a.value = 0x6A82;
  a.nad = 0x12;
  a.count = 2;
  Fault b;
  b.kind = Fault::NoAnswer;
  ASSERT_TRUE(q.add(a));
  ASSERT_TRUE(q.add(b));
  auto t = q.take(0x16);  // only the fault for any unit matches
  ASSERT_TRUE(t);
  EXPECT_EQ(t->kind, Fault::NoAnswer);
  EXPECT_EQ(q.take(0x12)->kind, Fault::Sw);
  EXPECT_EQ(q.take(0x12)->kind, Fault::Sw);
  EXPECT_FALSE(q.take(0x12));
  for (size_t i = 0; i < FaultQueue::kMax; ++i) ASSERT_TRUE(q.add(b));
  EXPECT_FALSE(q.add(b));
}

TEST(Faults, CommandPrefixSelectsWhichCommandIsHit) {
  Fault f;
  std::string err;
  ASSERT_TRUE(parseFault("sw 6C0B nad=0x12 cmd=00B207", f, err));
  EXPECT_EQ(f.cmd, hx("00B207"));
  for (const char* bad : {"sw 6C0B cmd=", "sw 6C0B cmd=0B2", "sw 6C0B cmd=ZZ", "sw 6C0B skip=-1"})
    EXPECT_FALSE(parseFault(bad, f, err)) << bad;
  FaultQueue q;
  ASSERT_TRUE(parseFault("sw 6C0B nad=0x12 cmd=00B207", f, err));
  ASSERT_TRUE(q.add(f));
  EXPECT_FALSE(q.take(0x12, hx("0012000000")));
  EXPECT_FALSE(q.take(0x12, hx("00B2")));  // shorter than the prefix
  EXPECT_FALSE(q.take(0x16, hx("00B207000B")));
  EXPECT_NE(q.json().find("\"cmd\":\"00B207\""), std::string::npos);
  auto t = q.take(0x12, hx("00B207000B"));
  ASSERT_TRUE(t);
  EXPECT_EQ(t->value, 0x6C0Bu);
  EXPECT_EQ(q.size(), 0u);
  // skip=1: the first matching command passes, the second is hit.
  ASSERT_TRUE(parseFault("sw 6985 cmd=00C0 skip=1", f, err));
  ASSERT_TRUE(q.add(f));
  EXPECT_FALSE(q.take(0x16, hx("00C0000010")));
  EXPECT_FALSE(q.take(0x16, hx("80FA")));
  EXPECT_EQ(q.take(0x16, hx("00C0000010"))->value, 0x6985u);
  EXPECT_FALSE(q.take(0x16, hx("00C0000010")));
}
