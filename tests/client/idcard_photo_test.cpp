// QMX_IDCard_ReadPhoto on both reader families: QMX_IDCard_Read's texts,
// codes, messages and session, plus the card's photo record; nothing is
// written on failure.
#include <cstring>

#include "client_fixture.h"
#include "profile.h"

namespace {

struct IdPhoto : ClientTest, testing::WithParamInterface<std::string> {
  void SetUp() override {
    ClientTest::SetUp();
    start(GetParam());
    std::memset(f, 'x', sizeof f);
    std::memset(photo, 0xEE, sizeof photo);
  }
  int read() { return QMX_IDCard_ReadPhoto(f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], photo, &len, err); }
  bool untouched() const {
    for (const auto &b : f)
      for (char c : b)
        if (c != 'x') return false;
    for (unsigned char c : photo)
      if (c != 0xEE) return false;
    return len == -7;
  }
  char f[9][256];
  unsigned char photo[TESSERA_ID_PHOTO_SIZE + 16];
  int len = -7;
  char err[1024] = {};
};

}  // namespace

TEST_P(IdPhoto, TextsAreThoseOfTheReadAndThePhotoIsTheCards) {
  char plain[9][256] = {};
  ASSERT_EQ(QMX_IDCard_Read(plain[0], plain[1], plain[2], plain[3], plain[4], plain[5], plain[6], plain[7], plain[8],
                            err),
            0)
      << err;
  ASSERT_EQ(read(), 0) << err;
  for (int i = 0; i < 9; ++i) EXPECT_STREQ(f[i], plain[i]) << i;
  vr::Profile p;
  std::string e;
  ASSERT_TRUE(vr::loadProfile(std::string(getenv("HW_SOURCE_DIR")) + "/tests/client/cards.json", p, e)) << e;
  const vr::Bytes &card = p.cards.at("id_li").id->photo;
  ASSERT_EQ(len, 1024);
  EXPECT_EQ(vr::Bytes(photo, photo + len), card);
  EXPECT_EQ(photo[TESSERA_ID_PHOTO_SIZE], 0xEE);
  EXPECT_FALSE(sessionOpen());
}

TEST_P(IdPhoto, FailuresKeepTheReadsCodesAndMessages) {
  const bool hid = GetParam() == "hid";
  struct Case {
    const char *name;
    std::vector<std::string> ctl;
    int rc;
    const char *hidMsg;
    bool hidOnly;
  };
  const Case cases[] = {
      {"no card", {"remove idcard"}, -2, "读取身份证失败!", false},
      {"SAM error", {"fault sw 6A82 nad=27"}, -2, "读取身份证失败!", false},
      {"photo past the reply", {"fault delay 0 nad=27 count=5", "fault cut 1200 nad=27"}, -2, "读取身份证信息失败!",
       true},
      {"no reader", {"unplug"}, -1, nullptr, false},
  };
  for (const Case &c : cases) {
    if (c.hidOnly && !hid) continue;
    SCOPED_TRACE(c.name);
    for (const std::string &line : c.ctl) ctl(line);
    std::memset(err, 0, sizeof err);
    testing::internal::CaptureStdout();
    EXPECT_EQ(read(), c.rc);
    testing::internal::GetCapturedStdout();
    if (c.hidMsg) {
      EXPECT_STREQ(err, hid ? c.hidMsg : "身份证读取失败!");
    }
    EXPECT_TRUE(untouched());
    EXPECT_FALSE(sessionOpen());
    ctl("fault clear");
    if (std::string(c.name) == "no reader") ctl("plug");
    ctl("insert idcard id_li");
  }
}

INSTANTIATE_TEST_SUITE_P(Families, IdPhoto, testing::Values("hid", "dc"));
