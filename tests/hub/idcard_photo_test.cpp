// IDCard_ReadPhoto on the virtual reader, both families: the texts of
// IDCard_Read plus the card's photo record, or on failure IDCard_Read's code
// and message with nothing written.
#include "hub_fixture.h"
#include "profile.h"

namespace {

vr::Bytes cardPhoto(const std::string& card) {
  vr::Profile p;
  std::string err;
  if (!vr::loadProfile(hubProfile(), p, err)) return {};
  return p.cards.at(card).id->photo;
}

// The nine texts, the photo buffer with a guard and the length.
struct PhotoOutputs {
  explicit PhotoOutputs(char fill = '\0') : o(fill), photo(PORTICO_ID_PHOTO_SIZE + 16, 0xEE) {}
  int read(int64_t h, char* msg) {
    Guarded* f = o.f;
    return IDCard_ReadPhoto(h, f[0].data(), f[1].data(), f[2].data(), f[3].data(), f[4].data(), f[5].data(),
                            f[6].data(), f[7].data(), f[8].data(), photo.data(), &len, msg);
  }
  vr::Bytes record() const { return vr::Bytes(photo.begin(), photo.begin() + (len > 0 ? len : 0)); }
  bool untouched() const {
    for (const std::string& s : o.texts())
      if (s != std::string(s.size(), 'x')) return false;
    return len == -7 && photo == std::vector<uint8_t>(photo.size(), 0xEE);
  }
  IdOutputs o;
  std::vector<uint8_t> photo;
  int len = -7;
};

struct IdCardPhoto : HubTest, testing::WithParamInterface<std::string> {
  void SetUp() override { open(GetParam()); }
  bool hid() const { return GetParam() == "hid"; }
  void reopen() {
    if (hid()) {
      ASSERT_EQ(OpenDev(nullptr, nullptr, msg), h);  // the USB-HID read closes the reader
    }
  }
};

}  // namespace

TEST_P(IdCardPhoto, TextsAreThoseOfIDCardReadAndThePhotoIsTheCards) {
  IdOutputs plain;
  ASSERT_EQ(plain.read(h, msg), 0) << msg;
  reopen();
  ASSERT_EQ(vr.ctl("clearlog"), "OK");
  PhotoOutputs p;
  ASSERT_EQ(p.read(h, msg), 0) << msg;
  EXPECT_EQ(p.o.texts(), plain.texts());
  EXPECT_TRUE(p.o.guardsIntact());
  EXPECT_EQ(p.len, PORTICO_ID_PHOTO_SIZE);
  const vr::Bytes card = cardPhoto("id_rare");
  ASSERT_EQ(card.size(), 1024u);
  EXPECT_EQ(p.record(), card);
  EXPECT_EQ(std::vector<uint8_t>(p.photo.end() - 16, p.photo.end()), std::vector<uint8_t>(16, 0xEE));
  // The same frames (or the same single SDK read) as the plain read.
  EXPECT_EQ(commandsSent(vr).size(), hid() ? 6u : 1u);
}

TEST_P(IdCardPhoto, FailuresGiveTheReadsCodesAndMessagesAndWriteNothing) {
  struct Case {
    const char* name;
    std::vector<std::string> ctl;
    int hidCode, vendorCode;
    const char* hidMsg;
  };
  const char* kStep = "读取身份证失败!";
  const char* kRead = "读取身份证信息失败!";
  const Case cases[] = {
      {"no card", {"remove idcard"}, -6, -1, kStep},
      {"SAM error", {"fault delay 0 nad=27 count=1", "fault sw 6A82 nad=27"}, -4, -1, kStep},
      {"short reply", {"fault delay 0 nad=27 count=5", "fault cut 512 nad=27"}, -1, -1, kRead},
      // Text whole, photo cut: IDCard_Read would succeed on this reply.
      {"photo past the reply", {"fault delay 0 nad=27 count=5", "fault cut 1200 nad=27"}, -1, 0, kRead},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The vendor family has no cut reply: the SDK checks the lengths itself.
    if (!hid() && c.vendorCode == 0) continue;
    if (!hid() && std::string(c.name) != "no card") {
      ASSERT_EQ(vr.ctl("fault sw 6A82 nad=27"), "OK");
    } else {
      for (const std::string& line : c.ctl) ASSERT_EQ(vr.ctl(line), "OK");
    }
    PhotoOutputs p('x');
    std::memset(msg, 0, sizeof msg);
    testing::internal::CaptureStdout();  // the SAM identity failure prints its status word
    EXPECT_EQ(p.read(h, msg), hid() ? c.hidCode : c.vendorCode);
    testing::internal::GetCapturedStdout();
    EXPECT_STREQ(msg, hid() ? c.hidMsg : "身份证读取失败!");
    EXPECT_TRUE(p.untouched());
    ASSERT_EQ(vr.ctl("fault clear"), "OK");
    ASSERT_EQ(vr.ctl("insert idcard id_rare"), "OK");
    reopen();
  }
}

INSTANTIATE_TEST_SUITE_P(Families, IdCardPhoto, testing::Values("hid", "dc"));
