// libdcrf32 (stand-in) against the virtual reader of the vendor family.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "bytes.h"
#include "dcrf32.h"
#include "vreader_fixture.h"

using vr::Bytes;
using vr::hx;

namespace {

struct DcTest : ::testing::Test {
  void SetUp() override {
    ASSERT_TRUE(vr.start());
    dev = dc_init(100, 0);
    ASSERT_GT(dev, 0);
  }
  void TearDown() override {
    if (dev > 0) dc_exit(dev);
  }
  std::string apdu(const char* hex, bool contactless = false) {
    Bytes c = hx(hex);
    unsigned char rlen = 0, out[256];
    short r = contactless ? dc_pro_command(dev, uint8_t(c.size()), c.data(), &rlen, out, 7)
                          : dc_cpuapdu(dev, uint8_t(c.size()), c.data(), &rlen, out);
    if (r != 0) return "result " + std::to_string(r);
    return vr::toHex(out, rlen);
  }
  VreaderProcess vr;
  int dev = 0;
};

}  // namespace

TEST(DcInit, FindsNoReaderWithoutDaemonOrFamily) {
  VreaderProcess none;
  setenv("VREADER_SOCKET", "/nonexistent/vr.sock", 1);
  EXPECT_LE(dc_init(100, 0), 0);
  VreaderProcess hidOnly;
  ASSERT_TRUE(hidOnly.start(VreaderProcess::profileDir() + "/demo.json", "hid"));
  EXPECT_LE(dc_init(100, 0), 0);
  EXPECT_EQ(dc_exit(3), DC_ERR_DEVICE);
  unsigned char len;
  unsigned char atr[64];
  EXPECT_EQ(dc_cpureset(1, &len, atr), DC_ERR_DEVICE);
}

TEST_F(DcTest, ContactCardResetAndT0AnswersLeftToTheCaller) {
  ASSERT_EQ(dc_setcpu(dev, 0x0C), 0);
  unsigned char len = 0, atr[64];
  ASSERT_EQ(dc_cpureset(dev, &len, atr), 0);
  EXPECT_EQ(vr::toHex(atr, len), "3B6C00000A1A2B3C4D5E6F708192A3B4C5D6");
  std::string r = apdu("00A404000F7378312E73682EC9E7BBE1B1A3D5CF");
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r.substr(0, 2), "61");
  std::string fci = apdu(("00C00000" + r.substr(2)).c_str());
  EXPECT_EQ(fci.substr(0, 8), "6F1A840F");
  EXPECT_EQ(fci.substr(fci.size() - 4), "9000");
  EXPECT_EQ(apdu("00A4020002EF05"), "9000");
  EXPECT_EQ(apdu("00B207000C"), "6C0B");
  EXPECT_EQ(apdu("00B2990006"), "6A83");
}

TEST_F(DcTest, PsamSlotsAndMissingCards) {
  unsigned char len = 0, atr[64];
  ASSERT_EQ(dc_setcpu(dev, 0x0D), 0);
  ASSERT_EQ(dc_cpureset(dev, &len, atr), 0);
  EXPECT_EQ(vr::toHex(atr, 2), "3B6A");
  ASSERT_EQ(dc_setcpu(dev, 0x0E), 0);
  EXPECT_EQ(dc_cpureset(dev, &len, atr), 0x6FF0);
  EXPECT_EQ(apdu("0084000008"), "result " + std::to_string(0x6FF0));
  EXPECT_EQ(dc_setcpu(dev, 0x10), DC_ERR_ARG);
}

TEST_F(DcTest, ContactlessCallsReachTheContactlessCardOnly) {
  unsigned char len = 0, atr[64];
  EXPECT_EQ(dc_pro_reset(dev, &len, atr), 0x6FF0);
  ASSERT_EQ(vr.ctl("insert contactless bank"), "OK");
  ASSERT_EQ(dc_pro_reset(dev, &len, atr), 0);
  EXPECT_EQ(vr::toHex(atr, len), "3B6900008131FE454A434F50323156");
  std::string r = apdu("00A4040008A000000333010101", true);
  EXPECT_EQ(r.substr(0, 2), "61");
  // the contact slot still holds the social-security card, not yet reset
  EXPECT_EQ(apdu("00A4040008A000000333010101"), "result " + std::to_string(0x6FF3));
  std::string log = vr.ctl("log 3");
  EXPECT_NE(log.find(R"("fam":"dc","nad":21,"cmd":"0500A4040008A000000333010101")"), std::string::npos) << log;
}

TEST_F(DcTest, IdCardReadAndParse) {
  unsigned int tl = 0, pl = 0, fl = 99, el = 99;
  unsigned char text[256], photo[1024], fp[1024];
  ASSERT_EQ(dc_SamAReadCardInfo(dev, 3, &tl, text, &pl, photo, &fl, fp, &el, nullptr), 0);
  EXPECT_EQ(tl, 256u);
  EXPECT_EQ(pl, 1024u);
  EXPECT_EQ(fl, 0u);
  EXPECT_EQ(el, 0u);
  unsigned char name[64], sex[8], nation[8], birth[16], addr[128], num[40], auth[64], start[16], end[16];
  ASSERT_EQ(dc_ParseTextInfo(dev, 2, tl, text, name, sex, nation, birth, addr, num, auth, start, end, nullptr), 0);
  EXPECT_STREQ(reinterpret_cast<char*>(name), "李四");
  EXPECT_STREQ(reinterpret_cast<char*>(sex), "1");
  EXPECT_STREQ(reinterpret_cast<char*>(nation), "01");
  EXPECT_STREQ(reinterpret_cast<char*>(birth), "19920228");
  EXPECT_STREQ(reinterpret_cast<char*>(addr), "广东省深圳市南山区科技园路1号");
  EXPECT_STREQ(reinterpret_cast<char*>(num), "440305199202284568");
  EXPECT_STREQ(reinterpret_cast<char*>(end), "20300101");
  ASSERT_EQ(dc_ParseTextInfo(dev, 1, tl, text, name, sex, nation, birth, addr, num, auth, start, end, nullptr), 0);
  EXPECT_STREQ(reinterpret_cast<char*>(name), "\xC0\xEE\xCB\xC4");  // GBK
  unsigned char out[64];
  ASSERT_EQ(dc_ParseOtherInfo(dev, 32, sex, out), 0);
  EXPECT_STREQ(reinterpret_cast<char*>(out), "男");
  ASSERT_EQ(dc_ParseOtherInfo(dev, 33, (unsigned char*)"56", out), 0);
  EXPECT_STREQ(reinterpret_cast<char*>(out), "基诺族");
  EXPECT_EQ(dc_ParseOtherInfo(dev, 33, (unsigned char*)"57", out), DC_ERR_ARG);
  EXPECT_EQ(dc_ParseOtherInfo(dev, 32, (unsigned char*)"3", out), DC_ERR_ARG);
  ASSERT_EQ(dc_ParseOtherInfo(dev, 34, (unsigned char*)"XYZ", out), 0);
  EXPECT_STREQ(reinterpret_cast<char*>(out), "XYZ");
  EXPECT_EQ(dc_ParseTextInfo(dev, 2, 100, text, name, sex, nation, birth, addr, num, auth, start, end, nullptr),
            DC_ERR_ARG);
  EXPECT_EQ(dc_SamAReadCardInfo(dev, 4, &tl, text, &pl, photo, &fl, fp, &el, nullptr), DC_ERR_ARG);
}

TEST_F(DcTest, OtherCardTypesCarryTheirSign) {
  unsigned int tl = 0, pl = 0;
  unsigned char text[256], photo[1024], sign[8], a[200], b[64], c[64], d[128], e[40], f[64], g[16], h[16],
      i[32], j[8];
  ASSERT_EQ(vr.ctl("insert idcard id_foreign"), "OK");
  ASSERT_EQ(dc_SamAReadCardInfo(dev, 2, &tl, text, &pl, photo, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(text[248], 'I');
  ASSERT_EQ(dc_ParseTextInfoForForeigner(dev, 2, tl, text, a, b, e, c, f, g, h, d, j, i, sign, nullptr), 0);
  EXPECT_STREQ(reinterpret_cast<char*>(a), "SMITH JOHN");
  EXPECT_STREQ(reinterpret_cast<char*>(c), "USA");
  EXPECT_STREQ(reinterpret_cast<char*>(sign), "I");
  ASSERT_EQ(vr.ctl("insert idcard id_hk"), "OK");
  ASSERT_EQ(dc_SamAReadCardInfo(dev, 1, &tl, text, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
  ASSERT_EQ(dc_ParseTextInfoForHkMoTw(dev, 2, tl, text, b, j, g, d, e, f, h, g, i, c, sign, nullptr), 0);
  EXPECT_STREQ(reinterpret_cast<char*>(b), "陈大文");
  EXPECT_STREQ(reinterpret_cast<char*>(i), "H12345678");
  EXPECT_STREQ(reinterpret_cast<char*>(sign), "J");
  ASSERT_EQ(vr.ctl("remove idcard"), "OK");
  EXPECT_EQ(dc_SamAReadCardInfo(dev, 1, &tl, text, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0x80);
}

TEST_F(DcTest, FaultsGiveCommunicationErrorsAndTheNextCallRecovers) {
  setenv("VREADER_DC_TIMEOUT_MS", "200", 1);
  ASSERT_EQ(dc_setcpu(dev, 0x0C), 0);
  unsigned char len = 0, atr[64];
  ASSERT_EQ(vr.ctl("fault noanswer nad=0x12"), "OK");
  EXPECT_EQ(dc_cpureset(dev, &len, atr), DC_ERR_COMM);
  ASSERT_EQ(dc_setcpu(dev, 0x0C), 0);  // a fresh connection starts at the contact slot
  ASSERT_EQ(dc_cpureset(dev, &len, atr), 0);
  ASSERT_EQ(vr.ctl("fault garble"), "OK");
  EXPECT_EQ(apdu("0084000008"), "result -2");
  ASSERT_EQ(dc_cpureset(dev, &len, atr), 0);
  ASSERT_EQ(vr.ctl("fault short"), "OK");
  EXPECT_EQ(apdu("0084000008"), "result -2");
  ASSERT_EQ(vr.ctl("fault sw 6A82"), "OK");
  EXPECT_EQ(apdu("0084000008"), "6A82");
  EXPECT_EQ(apdu("0084000008").size(), 20u);
  unsetenv("VREADER_DC_TIMEOUT_MS");
}

TEST_F(DcTest, UnplugEndsTheSessionUntilPluggedAgain) {
  ASSERT_EQ(vr.ctl("unplug"), "OK");
  unsigned char len = 0, atr[64];
  EXPECT_EQ(dc_cpureset(dev, &len, atr), DC_ERR_COMM);
  EXPECT_LE(dc_init(100, 0), 0);
  ASSERT_EQ(vr.ctl("plug"), "OK");
  EXPECT_EQ(dc_cpureset(dev, &len, atr), 0);
}
