// IDCard_Read on the USB-HID family: six frames to the ID-card module, the
// text block decoded through the tool unit, the reader closed every time.
#include <iconv.h>

#include "hub_fixture.h"

namespace {

std::string gbk(const std::string& utf8) {
  iconv_t cd = iconv_open("GBK", "UTF-8");
  std::string out(utf8.size() * 2 + 4, '\0');
  char* in = const_cast<char*>(utf8.data());
  char* o = &out[0];
  size_t il = utf8.size(), ol = out.size();
  iconv(cd, &in, &il, &o, &ol);
  iconv_close(cd);
  out.resize(out.size() - ol);
  return out;
}

const std::vector<std::string> kIdFrames = {"27:0012000000",          "27:AAAAAA9669000312FFEE",
                                            "27:AAAAAA9669000461FF78E2", "27:AAAAAA96690003200122",
                                            "27:AAAAAA96690003200221", "27:AAAAAA96690003300132"};

std::vector<std::string> frames(size_t n) { return std::vector<std::string>(kIdFrames.begin(), kIdFrames.begin() + long(n)); }

struct HidIdCard : HubTest {
  void SetUp() override { open("hid"); }
  bool readerClosed() { return g_hid_devices[1].dev == nullptr && clients(vr, "hid") == 0; }
};

}  // namespace

TEST_F(HidIdCard, FullReadDecodesAllNineFieldsAndClosesTheReader) {
  IdOutputs o;
  ASSERT_EQ(o.read(h, msg), 0) << msg;
  EXPECT_EQ(o.texts(), (std::vector<std::string>{"热依拉·买买提𠮷䶮", "女", "维吾尔", "19950715",
                                                 "新疆乌鲁木齐市天山区解放南路１２号（集体户）", "650102199507150025",
                                                 "乌鲁木齐市公安局天山分局", "20190301", "20390301"}));
  EXPECT_TRUE(o.guardsIntact());
  EXPECT_STREQ(msg, "");
  EXPECT_EQ(commandsSent(vr), frames(6));
  EXPECT_TRUE(readerClosed());
  // The driver's node address stays at the ID-card module across the close.
  ASSERT_EQ(OpenDev(nullptr, nullptr, msg), h);
  EXPECT_EQ(apdu("0012000000"), "9000:");
  EXPECT_EQ(exchangeLog(vr, 1).at(0).nad, 27);
}

TEST_F(HidIdCard, LongFieldsAreCutAtCharacterBoundariesInsideTheCallerBuffers) {
  ASSERT_EQ(vr.ctl("insert idcard id_full"), "OK");
  IdOutputs o('x');
  ASSERT_EQ(o.read(h, msg), 0) << msg;
  auto t = o.texts();
  EXPECT_EQ(t[0], "欧阳诸葛司马上官东方西门南宫北");  // 45 bytes: fills the 46 exactly
  EXPECT_EQ(t[1], "未知");
  EXPECT_EQ(t[2], "其他");
  // 18 ideographs are 36 bytes of GBK: 15 of them fit before the terminator
  EXPECT_EQ(t[5], gbk("中华人民共和国居民身份证号码测"));
  EXPECT_EQ(t[5].size(), 30u);
  EXPECT_EQ(t[7], "20100101");
  EXPECT_EQ(t[8], gbk("长期"));  // the validity end stays GBK
  EXPECT_TRUE(o.guardsIntact());
}

TEST_F(HidIdCard, ValidityEndThatIsNoDateIsKeptWholeAndOtherCodesGetTheirNames) {
  ASSERT_EQ(vr.ctl("insert idcard id_odd"), "OK");
  IdOutputs o;
  ASSERT_EQ(o.read(h, msg), 0) << msg;
  auto t = o.texts();
  EXPECT_EQ(t[1], "未说明");
  EXPECT_EQ(t[2], "其他");
  EXPECT_EQ(t[7], "20210101");
  EXPECT_EQ(t[8], gbk("至2030年1月"));
}

TEST_F(HidIdCard, EachFailingStepGivesItsCodeMessageAndClosesTheReader) {
  const int codes[] = {-3, -4, -5, -6, -7, -1};
  for (int step = 0; step < 6; ++step) {
    SCOPED_TRACE("step " + std::to_string(step));
    if (step > 0) {
      ASSERT_EQ(OpenDev(nullptr, nullptr, msg), h);
      ASSERT_EQ(vr.ctl("fault delay 0 nad=27 count=" + std::to_string(step)), "OK");
    }
    ASSERT_EQ(vr.ctl("fault sw 6A82 nad=27"), "OK");
    ASSERT_EQ(vr.ctl("clearlog"), "OK");
    IdOutputs o('x');
    std::memset(msg, 0, sizeof msg);
    testing::internal::CaptureStdout();
    EXPECT_EQ(o.read(h, msg), codes[step]);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, step == 1 ? "uiRet=27266\n" : "");
    EXPECT_STREQ(msg, step == 5 ? "读取身份证信息失败!" : "读取身份证失败!");
    EXPECT_EQ(commandsSent(vr), frames(size_t(step) + 1));
    for (const std::string& s : o.texts()) EXPECT_EQ(s, std::string(s.size(), 'x'));  // untouched
    EXPECT_TRUE(readerClosed());
  }
}

TEST_F(HidIdCard, NoCardFailsAtTheFindStepWithMinus6) {
  ASSERT_EQ(vr.ctl("remove idcard"), "OK");
  IdOutputs o('x');
  EXPECT_EQ(o.read(h, msg), -6);
  EXPECT_STREQ(msg, "读取身份证失败!");
  EXPECT_EQ(commandsSent(vr), frames(4));
  EXPECT_EQ(exchangeLog(vr).back().reply.substr(exchangeLog(vr).back().reply.size() - 4), "6F80");
  EXPECT_EQ(o.texts()[0], std::string(PORTICO_ID_NAME_SIZE, 'x'));
  EXPECT_TRUE(readerClosed());
}

TEST_F(HidIdCard, ReadReplyOf512BytesIsRefusedAnd513Accepted) {
  ASSERT_EQ(vr.ctl("fault delay 0 nad=27 count=5"), "OK");
  ASSERT_EQ(vr.ctl("fault cut 512 nad=27"), "OK");
  IdOutputs o('x');
  EXPECT_EQ(o.read(h, msg), -1);
  EXPECT_STREQ(msg, "读取身份证信息失败!");
  EXPECT_EQ(exchangeLog(vr).back().reply.size(), 2u * (512 + 2));
  EXPECT_EQ(o.texts()[0], std::string(PORTICO_ID_NAME_SIZE, 'x'));
  EXPECT_TRUE(readerClosed());

  ASSERT_EQ(OpenDev(nullptr, nullptr, msg), h);
  ASSERT_EQ(vr.ctl("fault delay 0 nad=27 count=5"), "OK");
  ASSERT_EQ(vr.ctl("fault cut 513 nad=27"), "OK");
  IdOutputs ok;
  std::memset(msg, 0, sizeof msg);
  EXPECT_EQ(ok.read(h, msg), 0) << msg;
  EXPECT_EQ(ok.texts()[0], "热依拉·买买提𠮷䶮");
  EXPECT_EQ(ok.texts()[8], "20390301");
}
