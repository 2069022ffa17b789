// The bank-card kernel on the simulated PBOC card: every entry point
// through every road to the card (driver libraries of types 1 to 4, the
// T10N and SDANDC readers on a pseudo-terminal, host mode), then the
// kernel's own cases on one road.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bankcard.h"
#include "globals.h"
#include "payterm.h"
#include "ptcard.h"
#include "serial_readers.h"
#include "tempdir.h"
#include "tlv.h"

namespace {

using vr::hx;
using vr::toHex;

enum class Road { kDc1, kDc2, kIc3, kIc4, kT10n, kSdandc, kHost };

std::string road_name(const ::testing::TestParamInfo<Road>& i) {
  static const char* const kNames[] = {"Dc1", "Dc2", "Ic3", "Ic4", "T10n", "Sdandc", "Host"};
  return kNames[static_cast<int>(i.param)];
}

// Test CA, issuer and card keys, made once.
struct OdaKeys {
  vr::OdaKeys k;
  OdaKeys() {
    k.ca = vr::crypto::generateRsa(1152, 3);
    k.issuer = vr::crypto::generateRsa(1024, 65537);
    k.icc = vr::crypto::generateRsa(768, 65537);
    k.caIndex = 0xF1;
  }
};
const vr::OdaKeys& oda_keys() {
  static OdaKeys o;
  return o.k;
}

// The CA key as "emv/CAPK.txt" holds it.
void write_capk_file() {
  const vr::crypto::RsaKey& ca = oda_keys().ca;
  vr::Bytes in = hx("A000000333F1");
  vr::append(in, ca.n);
  vr::append(in, ca.e);
  mkdir("emv", 0700);
  TempWorkDir::write("emv/CAPK.txt", "[CAPK1]\nRID=A000000333\nCAPKI=F1\nHashInd=01\nArithInd=01\nModul=" +
                                         toHex(ca.n) + "\nExponent=" + toHex(ca.e) +
                                         "\nExpireDate=20491231\nCheckSum=" +
                                         toHex(vr::crypto::sha1(in)) + "\n");
}

vr::BankCardData card(ptcard::CardOptions opts = ptcard::CardOptions(), bool oda = true) {
  vr::BankCardData d = ptcard::bank_data(opts);
  if (oda) vr::personaliseOda(d, oda_keys(), opts.pan);
  return d;
}

int host_exchange(int, int type, unsigned char* buf, int len, int size);

// Text helpers for the kernel's outputs.
vr::Bytes bytes_of_hex(const std::string& s) {
  vr::Bytes b;
  EXPECT_TRUE(vr::fromHex(s, b)) << s;
  return b;
}
vr::Bytes object(const vr::Bytes& tlvs, unsigned tag) {
  vr::Bytes v;
  EXPECT_TRUE(vr::tlv::find(tlvs, tag, v)) << std::hex << tag;
  return v;
}
// Tags of a flat TLV list in order.
std::vector<unsigned> tags_of(const vr::Bytes& b) {
  std::vector<unsigned> out;
  size_t i = 0;
  while (i < b.size()) {
    unsigned t = b[i++];
    if ((t & 0x1F) == 0x1F) t = t << 8 | b[i++];
    size_t l = b[i++];
    if (l == 0x81) l = b[i++];
    out.push_back(t);
    i += l;
  }
  return out;
}
std::string today_bcd() {
  time_t now = time(nullptr);
  struct tm tm;
  gmtime_r(&now, &tm);
  char s[40];
  snprintf(s, sizeof s, "%02d%02d%02d", tm.tm_year % 100, tm.tm_mon + 1, tm.tm_mday);
  return s;
}

const std::string kPan = "6217000012345678907";
const std::string kTrack2 = "6217000012345678907D301222000000";

class Kernel : public ::testing::TestWithParam<Road> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    reset_payterm_state();
    ptcard::reset();
    write_capk_file();
    road_ = GetParam();
    if (road_ == Road::kT10n) reader_.reset(new SerialReader(SerialReader::kT10n));
    if (road_ == Road::kSdandc) reader_.reset(new SerialReader(SerialReader::kSdandc));
    use('1');
  }
  void TearDown() override {
    reset_payterm_state();
    reader_.reset();
    ptcard::reset();
  }
  // The road with the interface '1' or '2'.
  void use(char icflag) {
    static const char* const kTypes[] = {"1", "2", "3", "4", "5", "6"};
    static const char* const kDrivers[] = {PTDRV_DC1, PTDRV_DC2, PTDRV_IC, PTDRV_IC, "builtin-t10n",
                                           "builtin-sdandc"};
    const char flag[2] = {icflag, 0};
    if (road_ == Road::kHost) {
      table_[0] = host_exchange;
      Wy_LibMain(3, reinterpret_cast<char*>(table_));
      g_icdev = 9;
      g_Wy_type = icflag == '2' ? 2 : 1;
      return;
    }
    int i = static_cast<int>(road_);
    ASSERT_EQ(0, Dc_Select(kTypes[i], kDrivers[i]));
    ASSERT_EQ(0, Dc_SetConfig("1", "1", "1", "115200", "0", "A", flag));
    if (reader_) g_icdev = reader_->fd();
  }
  int info(const char* letters) {
    info_[0] = rec_[0] = 0;
    ic_ = 'x';
    return Dc_GetICCardInfo(letters, "A000000333", info_, &ic_, rec_, nullptr);
  }
  int arqc(const char* tx) {
    ic_data_[0] = ic_len_[0] = 0;
    return Dc_GenARQC(tx, "", rec_, ic_data_, ic_len_, info_, &ic_);
  }
  // The issuer's answer approving (ARC "00") the last ARQC.
  std::string issuer_answer(const char arc[2] = "00", bool rightArpc = true) {
    vr::Bytes ic = bytes_of_hex(ic_data_);
    vr::Bytes a = ptcard::arpc(object(ic, 0x9F26), arc);
    if (!rightArpc) a[0] ^= 0x01;
    a.push_back(static_cast<uint8_t>(arc[0]));
    a.push_back(static_cast<uint8_t>(arc[1]));
    return toHex(vr::tlv::make(0x91, a));
  }
  TempWorkDir dir_;
  Road road_ = Road::kIc3;
  std::unique_ptr<SerialReader> reader_;
  PaytermHostExchange table_[1];
  char info_[PAYTERM_CARDINFO_SIZE];
  char rec_[PAYTERM_CARDREC_SIZE];
  char ic_data_[PAYTERM_ICDATA_SIZE];
  char ic_len_[4];
  char ic_ = 0;
};

// The host's exchange: card type 2 is the contactless card. A test may
// put a canned answer in place of the card's for one command.
vr::Bytes g_override_ins;  // {CLA, INS} to answer with g_override
vr::Bytes g_override;
int host_exchange(int, int type, unsigned char* buf, int len, int size) {
  vr::Bytes cmd(buf, buf + len);
  vr::Bytes r;
  if (!g_override_ins.empty() && len >= 2 && cmd[0] == g_override_ins[0] &&
      cmd[1] == g_override_ins[1]) {
    ptcard::transmit(ptcard::kContact, cmd);  // keeps the log complete
    r = g_override;
  } else {
    r = ptcard::transmit(type == 2 ? ptcard::kContactless : ptcard::kContact, cmd);
  }
  if (r.empty() || static_cast<int>(r.size()) > size) return -1;
  memcpy(buf, r.data(), r.size());
  return static_cast<int>(r.size());
}

TEST_P(Kernel, EveryEntryPointRunsItsDialogue) {
  ptcard::insert(ptcard::kContact, card());
  const bool host = road_ == Road::kHost;

  ASSERT_EQ(0, info("ABEJM"));
  EXPECT_EQ("A019" + kPan + "B009ZHANG/SAN" + "E032" + kTrack2 + "J00201" + "M006301231",
            std::string(info_));
  if (!host) {
    EXPECT_EQ('1', ic_);
  }
  EXPECT_EQ(0u, std::string(rec_).find("4B5652"));

  ASSERT_EQ(0, arqc("P012000000000100R0040156T00200"));
  EXPECT_EQ(0x80, object(bytes_of_hex(ic_data_), 0x9F27)[0]);
  char out[PAYTERM_ICDATA_SIZE], outLen[4];
  ASSERT_EQ(0, Dc_ARPC_ExeICScript(issuer_answer().c_str(), out, outLen));
  EXPECT_EQ(0x40, object(bytes_of_hex(out), 0x9F27)[0]);

  EXPECT_EQ(0x63C2, Dc_VerifyPin("1111"));
  int tries = -1;
  ASSERT_EQ(0, Dc_QueryPinNum(&tries));
  EXPECT_EQ(2, tries);
  EXPECT_EQ(0, Dc_VerifyPin("123456"));
  ASSERT_EQ(0, Dc_QueryPinNum(&tries));
  EXPECT_EQ(3, tries);

  char dyn[PAYTERM_ICDATA_SIZE] = {0};
  ASSERT_EQ(0, Dc_AuthDDA("A", "", info_, &ic_, rec_, dyn));
  EXPECT_EQ(16u, strlen(dyn));
  EXPECT_EQ("A019" + kPan, std::string(info_));

  char detail[PAYTERM_TXDETAIL_SIZE];
  ASSERT_EQ(0, Dc_GetTxDetail(detail));
  EXPECT_EQ("01", std::string(detail, 2));  // the approved transaction

  ptcard::CardOptions q;
  q.qpboc = true;
  ptcard::insert(ptcard::kContactless, card(q));
  use('2');
  char balance[13] = {0};
  ASSERT_EQ(0, Dc_QpbocBalance(balance));
  EXPECT_STREQ("000000010000", balance);
  ASSERT_EQ(0, Dc_QpbocDebit("150", balance, out, outLen));
  EXPECT_STREQ("000000009850", balance);
  char pan[PAYTERM_PAN_SIZE] = {0};
  ASSERT_EQ(0, Dc_QpbocGetCardNo(pan));
  EXPECT_EQ(kPan, pan);
  ASSERT_EQ(0, info("A"));
  if (!host) {
    EXPECT_EQ('2', ic_);
  }

  if (road_ == Road::kT10n) {
    // Opening selects the terminal's pass-through port A on the same line.
    Bytes pre = reader_->preamble();
    ASSERT_GE(pre.size(), 3u);
    EXPECT_EQ(hx("1B2541"), vr::Bytes(pre.begin(), pre.begin() + 3));
    EXPECT_EQ("32220100" "00", reader_->requests()[0]);
  }
  if (road_ == Road::kSdandc) {
    auto req = reader_->requests();
    ASSERT_GE(req.size(), 3u);
    EXPECT_EQ("D&C0006414100", req[0]);      // contactless card type A
    EXPECT_EQ("D&C0006300C3C", req[1]);      // user card slot
    EXPECT_EQ("D&C000A3103010231", req[2]);  // contact reset 3, 1, 2
  }

  if (host) {
    use('1');
    memset(pan, 0, sizeof pan);
    ASSERT_EQ(0, Wy_GetBankAccountNumber(9, 1, pan));
    EXPECT_EQ(kPan, pan);
    EXPECT_EQ(9, g_icdev);
    EXPECT_EQ(1, g_Wy_type);
    char t1[PAYTERM_TRACK_SIZE], t2[PAYTERM_TRACK_SIZE], t3[4] = {'x', 'x', 0, 0};
    ASSERT_EQ(0, Wy_GetBankMagInfo(9, 1, t1, t2, t3));
    EXPECT_EQ(kTrack2, t2);
    EXPECT_STREQ("0001", t1);
    EXPECT_EQ(0, t3[0]);
  }
}

INSTANTIATE_TEST_SUITE_P(Roads, Kernel,
                         ::testing::Values(Road::kDc1, Road::kDc2, Road::kIc3, Road::kIc4,
                                           Road::kT10n, Road::kSdandc, Road::kHost),
                         road_name);

// The kernel's own cases, on the IC_ driver road (and host mode where the
// host matters).
class KernelCase : public Kernel {};
INSTANTIATE_TEST_SUITE_P(Ic, KernelCase, ::testing::Values(Road::kIc3), road_name);
class HostCase : public Kernel {};
INSTANTIATE_TEST_SUITE_P(Host, HostCase, ::testing::Values(Road::kHost), road_name);

TEST_P(KernelCase, LettersInTheOrderGivenAndMissingObjects) {
  ptcard::CardOptions s;
  s.name = "";  // no 5F20 on this card
  ptcard::insert(ptcard::kContact, card(s));
  ASSERT_EQ(0, info("AE"));
  EXPECT_EQ("A019" + kPan + "E032" + kTrack2, std::string(info_));
  ASSERT_EQ(0, info("EA"));
  EXPECT_EQ("E032" + kTrack2 + "A019" + kPan, std::string(info_));
  ASSERT_EQ(0, info("B"));
  EXPECT_STREQ("B000", info_);
  ASSERT_EQ(0, info("GHLKZ"));
  EXPECT_STREQ("G012000000010000H012000000100000L00203K0040156", info_);
  ASSERT_EQ(0, info(""));
  EXPECT_STREQ("", info_);
  EXPECT_EQ(0u, std::string(rec_).find("4B5652"));
  EXPECT_EQ(PAYTERM_E_BAD_INPUT, info(std::string(PAYTERM_TAGLIST_MAX + 1, 'A').c_str()));
}

// Command sequences are read on a T=1 card (no GET RESPONSE in between).
ptcard::CardOptions t1_card() {
  ptcard::CardOptions s;
  s.t0 = false;
  return s;
}

TEST_P(KernelCase, GetProcessingOptionsCarriesThePdolData) {
  ptcard::insert(ptcard::kContact, card(t1_card()));
  ASSERT_EQ(0, info("A"));
  auto cmds = ptcard::commands();
  vr::Bytes gpo;
  for (auto& c : cmds)
    if (c.size() > 2 && c[0] == 0x80 && c[1] == 0xA8) gpo = c;
  EXPECT_EQ(hx(("80A80000238321 F4000000 000000000012 000000000000 0156 0000000800 0156 " +
                 today_bcd() + " 01 12345678")
                   .c_str()),
            gpo);
  // Selection came first, by the payment directory.
  EXPECT_EQ(hx("00A404000E 315041592E5359532E4444463031 00"), cmds[0]);
  EXPECT_EQ(hx("00B2010C00"), cmds[1]);
}

TEST_P(KernelCase, CardWithoutDirectoryIsTriedWithTheFirstBuiltInAid) {
  ptcard::CardOptions s;
  s.pse = false;
  ptcard::insert(ptcard::kContact, card(s));
  EXPECT_EQ(0x6A82, info("A"));
  auto cmds = ptcard::commands();
  ASSERT_EQ(2u, cmds.size());
  EXPECT_EQ(hx("00A4040007 A0000000031010 00"), cmds[1]);
  EXPECT_EQ("IC_ExitComm(7)", ptcard::calls().back());  // closed before returning
  EXPECT_EQ(0, g_icdev);
}

TEST_P(KernelCase, BuiltInAidCardGetsTheUsCodes) {
  ptcard::CardOptions s;
  s.pse = false;
  s.aid = hx("A0000000031010");
  ptcard::insert(ptcard::kContact, card(s, false));
  ASSERT_EQ(0, info("A"));
  vr::Bytes gpo;
  for (auto& c : ptcard::commands())
    if (c.size() > 2 && c[1] == 0xA8) gpo = c;
  ASSERT_EQ(40u, gpo.size());
  EXPECT_EQ(hx("0840"), vr::Bytes(gpo.begin() + 23, gpo.begin() + 25));  // 9F1A
  EXPECT_EQ(hx("0840"), vr::Bytes(gpo.begin() + 30, gpo.begin() + 32));  // 5F2A
  EXPECT_EQ(12u, std::string(rec_).find("4F07A0000000031010"));
}

TEST_P(KernelCase, DirectoryEntriesLeadIntoTheirDirectories) {
  vr::BankCardData d = card(t1_card());
  d.ddfName = hx("D15600000145");
  ptcard::insert(ptcard::kContact, d);
  ASSERT_EQ(0, info("A"));
  auto cmds = ptcard::commands();
  ASSERT_GE(cmds.size(), 8u);
  const char* want[8] = {
      "00A404000E 315041592E5359532E4444463031 00",  // payment directory
      "00B2010C00",                                  // its record 1: a directory entry
      "00A4040006 D15600000145 00",                  // that directory
      "00B2011400",                                  // its records (SFI 2)
      "00B2021400",
      "00A404000E 315041592E5359532E4444463031 00",  // back, for the next record
      "00B2020C00",
      "00A4040008 A000000333010101 00",              // the application found
  };
  for (int i = 0; i < 8; ++i) EXPECT_EQ(hx(want[i]), cmds[i]) << i;
}

TEST_P(KernelCase, CardRecordOfTheExampleCard) {
  vr::BankCardData d = card(ptcard::CardOptions(), false);
  // One record of exactly 100 bytes.
  vr::Bytes content = vr::tlv::make(0x5A, hx("6217000012345678907F"));
  vr::append(content, vr::tlv::make(0x9F1F, vr::Bytes(83, '7')));
  d.records.clear();
  const vr::Bytes record = vr::tlv::make(0x70, content);
  ASSERT_EQ(100u, record.size());
  d.records[{1, 1}] = record;
  d.afl = hx("08010100");
  ptcard::insert(ptcard::kContact, d);
  ASSERT_EQ(0, info("A"));
  std::string rec = rec_;
  EXPECT_EQ(0u, rec.find("4B5652" "000228" "4F08A0000003330101018202" "7C00"));
  EXPECT_EQ(toHex(record), rec.substr(40, 200));
  EXPECT_EQ("1", rec.substr(240));
}

TEST_P(KernelCase, ArqcAndApprovalWithIssuerScript) {
  ptcard::insert(ptcard::kContact, card());
  ASSERT_EQ(0, arqc("P012000000000100Q0010R0040156T00200S00820260301U006101112"));
  vr::Bytes ic = bytes_of_hex(ic_data_);
  char len[4];
  snprintf(len, sizeof len, "%03d", static_cast<int>(ic.size()));
  EXPECT_STREQ(len, ic_len_);
  EXPECT_EQ((std::vector<unsigned>{0x9F26, 0x9F27, 0x9F10, 0x9F37, 0x9F36, 0x95, 0x9F13, 0x9A,
                                   0x9C, 0x9F02, 0x5F2A, 0x82, 0x9F1A, 0x9F03, 0x9F33, 0x84,
                                   0x9F34, 0x9F35, 0x9F41, 0x9F09, 0x9F1E}),
            tags_of(ic));
  EXPECT_EQ(hx("000000000100"), object(ic, 0x9F02));
  EXPECT_EQ(hx("000000000000"), object(ic, 0x9F03));
  EXPECT_EQ(hx("260301"), object(ic, 0x9A));
  EXPECT_EQ(hx("00"), object(ic, 0x9C));
  EXPECT_EQ(hx("0156"), object(ic, 0x5F2A));
  EXPECT_EQ(hx("0156"), object(ic, 0x9F1A));
  EXPECT_EQ(hx("7C00"), object(ic, 0x82));
  EXPECT_EQ(hx("0000000800"), object(ic, 0x95));
  EXPECT_EQ(hx("A000000333010101"), object(ic, 0x84));
  EXPECT_EQ(hx("3132333435363738"), object(ic, 0x9F1E));
  EXPECT_EQ(hx("20A100"), object(ic, 0x9F33));
  // The unpredictable number is the one the GENERATE AC carried.
  vr::Bytes genAc;
  for (auto& c : ptcard::commands())
    if (c.size() > 2 && c[1] == 0xAE) genAc = c;
  ASSERT_GT(genAc.size(), 34u);
  EXPECT_EQ(0x80, genAc[2]);
  EXPECT_EQ(hx("260301 00"), vr::Bytes(genAc.begin() + 5 + 21, genAc.begin() + 5 + 25));
  EXPECT_EQ(object(ic, 0x9F37), vr::Bytes(genAc.begin() + 5 + 25, genAc.begin() + 5 + 29));
  EXPECT_EQ(hx("101112"), vr::Bytes(genAc.begin() + 5 + 29, genAc.begin() + 5 + 32));
  EXPECT_EQ("A019" + kPan + "E032" + kTrack2 + "J00201M006301231", std::string(info_));
  EXPECT_EQ(0u, std::string(rec_).find("4B5652"));
  EXPECT_NE(0, g_icdev);  // the card stays up for the second half

  // Issuer: approve, and a script (after the second GENERATE AC) that sets
  // a new electronic-cash balance.
  vr::Bytes script = vr::tlv::make(0x9F18, hx("11223344"));
  vr::append(script, vr::tlv::make(0x86, hx("04DA9F790A 000000020000 AABBCCDD")));
  std::string answer = issuer_answer() + toHex(vr::tlv::make(0x72, script));
  char out[PAYTERM_ICDATA_SIZE], outLen[4];
  ASSERT_EQ(0, Dc_ARPC_ExeICScript(answer.c_str(), out, outLen));
  vr::Bytes res = bytes_of_hex(out);
  EXPECT_EQ((std::vector<unsigned>{0x9F26, 0x9F27, 0x9F36, 0x9F10, 0xDF31}), tags_of(res));
  EXPECT_EQ(0x40, object(res, 0x9F27)[0]);
  EXPECT_EQ(hx("20 11223344"), object(res, 0xDF31));
  EXPECT_EQ(0, g_icdev);  // closed
  // The second GENERATE AC asked for a TC with the issuer's response code.
  vr::Bytes second;
  for (auto& c : ptcard::commands())
    if (c.size() > 2 && c[1] == 0xAE) second = c;
  EXPECT_EQ(0x40, second[2]);
  EXPECT_EQ(hx("3030"), vr::Bytes(second.begin() + 5, second.begin() + 7));
  ASSERT_EQ(0, info("G"));
  EXPECT_STREQ("G012000000020000", info_);
  // Completed: nothing left to complete.
  EXPECT_EQ(PAYTERM_E_NO_TRANSACTION, Dc_ARPC_ExeICScript(answer.c_str(), out, outLen));
}

TEST_P(KernelCase, RefusalByTheCardOrByTheIssuer) {
  ptcard::insert(ptcard::kContact, card());
  char out[PAYTERM_ICDATA_SIZE], outLen[4];
  // A wrong ARPC: the card refuses the transaction.
  ASSERT_EQ(0, arqc("P012000000000100"));
  EXPECT_EQ(PAYTERM_E_DECLINED, Dc_ARPC_ExeICScript(issuer_answer("00", false).c_str(), out, outLen));
  EXPECT_EQ(0x00, object(bytes_of_hex(out), 0x9F27)[0]);
  // The issuer declines (05): an AAC is asked for.
  ASSERT_EQ(0, arqc("P012000000000100"));
  EXPECT_EQ(PAYTERM_E_DECLINED, Dc_ARPC_ExeICScript(issuer_answer("05").c_str(), out, outLen));
  vr::Bytes second;
  for (auto& c : ptcard::commands())
    if (c.size() > 2 && c[1] == 0xAE) second = c;
  EXPECT_EQ(0x00, second[2]);
  // Nothing was logged for either.
  char detail[PAYTERM_TXDETAIL_SIZE];
  ASSERT_EQ(0, Dc_GetTxDetail(detail));
  EXPECT_STREQ("00", detail);
  // A script that fails at its second command.
  ASSERT_EQ(0, arqc("P012000000000100"));
  vr::Bytes script = vr::tlv::make(0x86, hx("04DA9F790A 000000020000 AABBCCDD"));
  vr::append(script, vr::tlv::make(0x86, hx("04EE000000")));
  std::string answer = issuer_answer() + toHex(vr::tlv::make(0x71, script));
  ASSERT_EQ(0, Dc_ARPC_ExeICScript(answer.c_str(), out, outLen));
  EXPECT_EQ(hx("12 00000000"), object(bytes_of_hex(out), 0xDF31));
}

TEST_P(KernelCase, TransactionInputErrors) {
  ptcard::insert(ptcard::kContact, card());
  char out[PAYTERM_ICDATA_SIZE], outLen[4];
  EXPECT_EQ(PAYTERM_E_NO_TRANSACTION, Dc_ARPC_ExeICScript("910A00", out, outLen));
  EXPECT_EQ(PAYTERM_E_BAD_INPUT, arqc("P0x2"));
  EXPECT_EQ(PAYTERM_E_BAD_INPUT, arqc("P01212"));
  EXPECT_EQ(PAYTERM_E_BAD_INPUT, arqc("P00212R0030A56"));
  EXPECT_TRUE(ptcard::calls().empty());  // refused before the reader
  ASSERT_EQ(0, arqc(""));
  EXPECT_EQ(PAYTERM_E_BAD_INPUT, Dc_ARPC_ExeICScript("91GG", out, outLen));
  EXPECT_EQ(0, g_icdev);  // the refused answer still closed the reader
  EXPECT_EQ(PAYTERM_E_BAD_INPUT, Dc_VerifyPin("12a4"));
  EXPECT_EQ(PAYTERM_E_BAD_INPUT, Dc_VerifyPin("123"));
  EXPECT_EQ(PAYTERM_E_BAD_INPUT, Dc_QpbocDebit("", out, out, outLen));
  EXPECT_EQ(PAYTERM_E_BAD_INPUT, Dc_QpbocDebit("1234567890123", out, out, outLen));
}

TEST_P(KernelCase, UnpredictableNumbersAreFresh) {
  ptcard::insert(ptcard::kContact, card());
  ASSERT_EQ(0, arqc("P012000000000100"));
  vr::Bytes a = object(bytes_of_hex(ic_data_), 0x9F37);
  Dev_Close();
  ASSERT_EQ(0, arqc("P012000000000100"));
  vr::Bytes b = object(bytes_of_hex(ic_data_), 0x9F37);
  EXPECT_NE(a, b);
  EXPECT_NE(hx("12345678"), a);
}

TEST_P(KernelCase, PinBlockOnTheWire) {
  ptcard::insert(ptcard::kContact, card());
  EXPECT_EQ(0, Dc_VerifyPin("123456"));
  EXPECT_EQ(hx("0020008008 26123456FFFFFFFF"), ptcard::commands().back());
  EXPECT_EQ(0x63C2, Dc_VerifyPin("123456789012"));
  EXPECT_EQ(hx("0020008008 2C123456789012FF"), ptcard::commands().back());
}

TEST_P(KernelCase, DynamicDataAuthenticationFailures) {
  char dyn[PAYTERM_ICDATA_SIZE];
  // A card whose private key is not the certified one.
  vr::BankCardData d = card();
  d.icc = vr::crypto::generateRsa(768, 65537);
  ptcard::insert(ptcard::kContact, d);
  EXPECT_EQ(PAYTERM_E_ODA_SIGNATURE, Dc_AuthDDA("A", "", info_, &ic_, rec_, dyn));
  EXPECT_EQ(0, g_icdev);
  // The INTERNAL AUTHENTICATE carried a fresh number.
  vr::Bytes ia;
  for (auto& c : ptcard::commands())
    if (c.size() > 2 && c[1] == 0x88) ia = c;
  ASSERT_EQ(10u, ia.size());
  EXPECT_EQ(hx("0088000004"), vr::Bytes(ia.begin(), ia.begin() + 5));
  EXPECT_NE(hx("12345678"), vr::Bytes(ia.begin() + 5, ia.begin() + 9));
  // Without the CA key file the key is unknown.
  ptcard::insert(ptcard::kContact, card());
  EXPECT_EQ(0, Dc_AuthDDA("A", "", info_, &ic_, rec_, dyn));
  remove("emv/CAPK.txt");
  EXPECT_EQ(PAYTERM_E_ODA_NO_CAPK, Dc_AuthDDA("A", "", info_, &ic_, rec_, dyn));
  // A card that offers no DDA.
  vr::BankCardData plain = card();
  plain.aip = hx("5C00");
  ptcard::insert(ptcard::kContact, plain);
  EXPECT_EQ(PAYTERM_E_ODA_UNSUPPORTED, Dc_AuthDDA("A", "", info_, &ic_, rec_, dyn));
}

TEST_P(KernelCase, QpbocDebitOutcomes) {
  ptcard::CardOptions q;
  q.qpboc = true;
  ptcard::insert(ptcard::kContactless, card(q));
  use('2');
  char balance[13] = {0}, out[PAYTERM_ICDATA_SIZE], outLen[4];
  // Beyond the balance: the card wants the issuer.
  EXPECT_EQ(PAYTERM_E_ONLINE, Dc_QpbocDebit("20000", balance, out, outLen));
  EXPECT_EQ(0x80, object(bytes_of_hex(out), 0x9F27)[0]);
  EXPECT_EQ(hx("000000020000"), object(bytes_of_hex(out), 0x9F02));
  ASSERT_EQ(0, Dc_QpbocBalance(balance));
  EXPECT_STREQ("000000010000", balance);
  ASSERT_EQ(0, Dc_QpbocDebit("2500", balance, out, outLen));
  EXPECT_STREQ("000000007500", balance);
  vr::Bytes tc = bytes_of_hex(out);
  EXPECT_EQ(0x40, object(tc, 0x9F27)[0]);
  EXPECT_EQ(hx("00"), object(tc, 0x9C));
  // The log holds the debit.
  char detail[PAYTERM_TXDETAIL_SIZE];
  ASSERT_EQ(0, Dc_GetTxDetail(detail));
  std::string det = detail;
  ASSERT_EQ("01", det.substr(0, 2));
  int n = std::stoi(det.substr(2, 3));
  ASSERT_EQ(det.size(), 5u + n);
  vr::Bytes entry = bytes_of_hex(det.substr(5));
  EXPECT_EQ((std::vector<unsigned>{0x9A, 0x9F21, 0x9F02, 0x9F03, 0x9F1A, 0x5F2A, 0x9F4E, 0x9C, 0x9F36}),
            tags_of(entry));
  EXPECT_EQ(hx("000000002500"), object(entry, 0x9F02));
  EXPECT_EQ(hx(today_bcd().c_str()), object(entry, 0x9A));
  // The card number read debits nothing.
  char pan[PAYTERM_PAN_SIZE];
  ASSERT_EQ(0, Dc_QpbocGetCardNo(pan));
  ASSERT_EQ(0, Dc_QpbocBalance(balance));
  EXPECT_STREQ("000000007500", balance);
  // Without the card's signature the static data are authenticated (SDA).
  vr::BankCardData sda = card(q);
  sda.icc = vr::crypto::RsaKey();
  ptcard::insert(ptcard::kContactless, sda);
  ASSERT_EQ(0, Dc_QpbocDebit("100", balance, out, outLen));
  EXPECT_STREQ("000000009900", balance);
  vr::Bytes ssad;
  ASSERT_TRUE(vr::tlv::find(sda.records[{3, 3}], 0x93, ssad));
  ssad[40] ^= 0x01;
  sda.records[{3, 3}] = vr::tlv::make(0x70, vr::tlv::make(0x93, ssad));
  ptcard::insert(ptcard::kContactless, sda);
  EXPECT_EQ(PAYTERM_E_ODA_SIGNATURE, Dc_QpbocDebit("100", balance, out, outLen));
  // A signature that does not verify fails the offline approval.
  vr::BankCardData bad = card(q);
  bad.icc = vr::crypto::generateRsa(768, 65537);
  ptcard::insert(ptcard::kContactless, bad);
  EXPECT_EQ(PAYTERM_E_ODA_SIGNATURE, Dc_QpbocDebit("100", balance, out, outLen));
}

TEST_P(KernelCase, VersionOfTheKernel) {
  char date[12], tm[9];
  unsigned int tag = 0;
  EXPECT_EQ(0, Dc_PbocVersion(date, tm, &tag));
  EXPECT_EQ(11u, strlen(date));
  EXPECT_EQ(' ', date[3]);
  EXPECT_EQ(8u, strlen(tm));
  EXPECT_EQ(':', tm[2]);
  EXPECT_EQ(0x0052564Bu, tag);
}

// A card whose directories list nothing but directories, in every record.
int g_loop_commands = 0;
int directory_loop(int, int, unsigned char* buf, int len, int) {
  ++g_loop_commands;
  vr::Bytes r;
  if (len >= 4 && buf[1] == 0xA4 && buf[4] == 0x07)
    r = hx("6A82");  // the built-in AID
  else if (len >= 4 && buf[1] == 0xA4)
    r = hx("6F08 8401 31 A5 03 880101 9000");
  else if (len >= 4 && buf[1] == 0xB2 && buf[2] <= 254)
    r = hx("70 0A 61 08 9D 06 D15600000145 9000");
  else
    r = hx("6A83");
  memcpy(buf, r.data(), r.size());
  return static_cast<int>(r.size());
}

TEST_P(HostCase, DirectoriesThatOnlyNameDirectoriesEndTheSearch) {
  table_[0] = directory_loop;
  g_loop_commands = 0;
  EXPECT_EQ(0x6A82, info("A"));
  // Sixteen directories at most, each read through once.
  EXPECT_GT(g_loop_commands, 254);
  EXPECT_LT(g_loop_commands, 16 * 256 * 2);
}

TEST_P(HostCase, AccountNumberFromTheTrackTwoOfAFailedGpo) {
  ptcard::insert(ptcard::kContact, card());
  g_override_ins = hx("80A8");
  g_override = hx("77 12 57 10 6217000012345678907D301222000000 6985");
  char pan[PAYTERM_PAN_SIZE] = {0};
  EXPECT_EQ(0x6985, Wy_GetBankAccountNumber(9, 1, pan));
  EXPECT_EQ(kPan, pan);
  char t1[PAYTERM_TRACK_SIZE] = {0}, t2[PAYTERM_TRACK_SIZE] = {0}, t3[2] = {'x', 0};
  EXPECT_EQ(0x6985, Wy_GetBankMagInfo(9, 1, t1, t2, t3));
  EXPECT_EQ(kTrack2, t2);
  EXPECT_STREQ("", t1);
  // Without the flags a failed GPO leaves the card information alone.
  EXPECT_EQ(0x6985, info("A"));
  EXPECT_STREQ("", info_);
  g_override_ins.clear();
}

// Card X is read through every entry point, then card Y fails at one step
// of its dialogue, with the caller's buffers reused as a program would: no
// output of Y may carry anything of X (the kernel kept the last card's GPO
// answer once, so Y's number read returned X's).
TEST_P(HostCase, NothingOfTheLastCardInTheNextCardsOutputs) {
  const std::string panY = "6228480000000000018";
  auto cardX = [&] {
    ptcard::CardOptions o;
    o.qpboc = true;
    vr::BankCardData d = card(o);
    d.data[0x9F79] = hx("000000054321");
    return d;
  };
  auto cardY = [&](int step) {
    ptcard::CardOptions o;
    o.qpboc = true;
    o.pan = panY;
    o.name = "LI/SI";
    if (step == 4) o.pse = o.qpboc = false;  // no application at all
    vr::BankCardData d = card(o);
    if (step == 0) vr::append(d.pdol, hx("9F4001"));  // a tag this terminal does not hold
    if (step == 1) d.pdol = hx("9F02");              // no length after the tag
    if (step == 3) d.records.erase({2, 1});          // the last AFL record is refused
    return d;
  };
  const int kGpo = 0x6985, kRec = 0x6A83, kNoApp = 0x6A82;
  // Per step of Y's failure, the codes of the reads below in their order.
  const struct {
    const char* step;
    int rc[9];
  } cases[] = {
      {"pdol names 9F40", {-1, -1, -1, -1, -1, -1, 0, -1, 0}},
      {"malformed pdol",
       {PAYTERM_E_CARD_DATA, PAYTERM_E_CARD_DATA, PAYTERM_E_CARD_DATA, PAYTERM_E_CARD_DATA,
        PAYTERM_E_CARD_DATA, PAYTERM_E_CARD_DATA, 0, PAYTERM_E_CARD_DATA, 0}},
      {"gpo refused", {kGpo, kGpo, kGpo, kGpo, kGpo, kGpo, 0, kGpo, 0}},
      {"read record refused", {kRec, kRec, 0, kRec, kRec, kRec, 0, kRec, 0}},
      {"no application", {kNoApp, kNoApp, kNoApp, kNoApp, kNoApp, kNoApp, kNoApp, kNoApp, kNoApp}},
  };
  // The caller's buffers, shared by both cards.
  char pan[PAYTERM_PAN_SIZE], t1[PAYTERM_TRACK_SIZE], t2[PAYTERM_TRACK_SIZE], t3[4];
  char dyn[PAYTERM_ICDATA_SIZE], arpc[PAYTERM_ICDATA_SIZE], arpcLen[4], balance[13];
  static char detail[PAYTERM_TXDETAIL_SIZE];
  auto contact = [] { g_Wy_type = 1; };
  auto contactless = [] { g_Wy_type = 2; };
  // Each read and the text outputs it fills.
  const struct {
    std::function<int()> run;
    std::vector<char*> outs;
  } reads[9] = {
      {[&] { return Wy_GetBankAccountNumber(9, 1, pan); }, {pan}},
      {[&] { return Wy_GetBankMagInfo(9, 1, t1, t2, t3); }, {t1, t2, t3}},
      {[&] { contactless(); return Dc_QpbocGetCardNo(pan); }, {pan}},
      {[&] { contact(); return Dc_GetICCardInfo("ABEJM", "", info_, &ic_, rec_, nullptr); },
       {info_, rec_}},
      {[&] { contact(); return Dc_AuthDDA("AB", "", info_, &ic_, rec_, dyn); }, {info_, rec_, dyn}},
      {[&] {
         contact();
         int rc = Dc_GenARQC("P012000000000100", "", rec_, ic_data_, ic_len_, info_, &ic_);
         std::string answer = rc == 0 ? issuer_answer() : "910A00";
         int done = Dc_ARPC_ExeICScript(answer.c_str(), arpc, arpcLen);
         return rc != 0 ? (done == PAYTERM_E_NO_TRANSACTION ? rc : -9999) : done;
       },
       {rec_, ic_data_, ic_len_, info_, arpc, arpcLen}},
      {[&] { contact(); return Dc_GetTxDetail(detail); }, {detail}},
      {[&] { contactless(); return Dc_QpbocDebit("150", balance, ic_data_, ic_len_); },
       {balance, ic_data_, ic_len_}},
      {[&] { contactless(); return Dc_QpbocBalance(balance); }, {balance}},
  };
  // X ends with its contactless number read, whose GPO answer carries its
  // track 2; Y starts with the reads that fall back on a GPO answer.
  const int orderX[9] = {8, 0, 1, 3, 4, 5, 6, 7, 2};
  for (int step = 0; step < 5; ++step) {
    SCOPED_TRACE(cases[step].step);
    ptcard::reset();
    ptcard::insert(ptcard::kContact, cardX());
    ptcard::insert(ptcard::kContactless, cardX());
    for (int i : orderX) ASSERT_EQ(0, reads[i].run()) << "card X, read " << i;
    ASSERT_NE("00", std::string(detail));
    // What identifies X: its number and name, and what only its dialogue made.
    std::vector<std::string> ofX = {kPan, "ZHANG/SAN", "5A48414E472F53414E", dyn,
                                    toHex(object(bytes_of_hex(ic_data_), 0x9F26)),
                                    toHex(object(bytes_of_hex(arpc), 0x9F26)), balance,
                                    "000000054321", std::string(detail).substr(2)};

    ptcard::insert(ptcard::kContact, cardY(step));
    ptcard::insert(ptcard::kContactless, cardY(step));
    if (step == 2) {
      g_override_ins = hx("80A8");
      g_override = hx("6985");
    }
    for (int i = 0; i < 9; ++i) {
      EXPECT_EQ(cases[step].rc[i], reads[i].run()) << "card Y, read " << i;
      for (char* out : reads[i].outs)
        for (const std::string& x : ofX)
          EXPECT_EQ(std::string::npos, std::string(out).find(x)) << "read " << i << " gave " << x;
    }
    g_override_ins.clear();
    // Y's own number from its GPO answer, when only a record was refused.
    if (step == 3) {
      EXPECT_EQ(panY, pan);
    }
  }
}

}  // namespace
