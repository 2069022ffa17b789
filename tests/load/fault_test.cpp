// Reader faults in the middle of a card operation, end to end: the reader
// unplugged, a card pulled, a report garbled, cut short or never answered
// while the service is between two commands of one operation. The request
// fails with the library's code and text, and the next request reads the
// card again: nothing is left behind in the session, the hub or the driver.
#include <chrono>
#include <future>
#include <thread>

#include "vreader_service.h"

namespace e2e {
namespace {

const Fields kRegion = {{"Region", "440100"}};

class MidOperationFault : public ServiceOnVreader {
 protected:
  const Json::Value &Contact() { return Card(profile_["slots"]["contact"].asString()); }
  const Json::Value &IdCard() { return Card(profile_["slots"]["idcard"].asString()); }

  std::string CardNoOk() {
    const Fields d = {{"CardNo", Contact()["card_no"].asString()}, {"CardType", "2"}};
    return HttpOk(Reply("DKQ0001", 0, "", &d, kRegion));
  }
  // DKQ0002 succeeds: the reply is the holder's record; checked by its
  // members here (tests/e2e compares the whole record).
  void ExpectBasicInfoRead(const std::string &http) {
    EXPECT_EQ(http.compare(0, 17, "HTTP/1.1 200 OK\r\n"), 0) << http;
    EXPECT_NE(http.find(",\"ResultCode\":0,"), std::string::npos) << http;
    EXPECT_NE(http.find("\"ID\":\"" + Contact()["social_no"].asString() + "\""), std::string::npos) << http;
    EXPECT_NE(http.find("\"Name\":\"" + Contact()["name"].asString() + "\""), std::string::npos) << http;
  }
  void ExpectIdCardRead(const std::string &http) {
    EXPECT_NE(http.find("\"ResultCode\":0,"), std::string::npos) << http;
    EXPECT_NE(http.find("\"CardNo\":\"" + IdCard()["number"].asString() + "\""), std::string::npos) << http;
  }
  std::string Failed(const std::string &funId, int code, const std::string &text) {
    return HttpOk(Reply(funId, code, text, nullptr, kRegion));
  }

  // Starts the request on its own thread; the reply comes from get().
  std::future<std::string> Begin(const std::string &funId, int timeout_ms = 10000) {
    const std::string body = Request(funId, kRegion);
    return std::async(std::launch::async, [this, body, timeout_ms] { return HttpCall(body, timeout_ms); });
  }
  // Waits until the reader has taken this command: the reader runs it at
  // once and a delay fault holds back only its answer.
  bool WaitForExchange(const std::string &cmd) {
    for (int i = 0; i < 500; i++) {
      const std::vector<std::string> cmds = WireCommands(vr_);
      if (!cmds.empty() && cmds.back().substr(3) == cmd) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
};

// DKQ0002 reads the social security number's record on the contact slot.
const char kReadSocialNo[] = "00B2080014";

TEST_F(MidOperationFault, GarbledReportDuringThePsamAuthentication) {
  // The second PSAM step (80 FA) comes back with a broken sequence number.
  ASSERT_EQ(ctl("fault garble nad=22 cmd=80FA skip=1"), "OK");
  EXPECT_EQ(HttpCall(Request("DKQ0002", kRegion)), Failed("DKQ0002", -18, "PSAM外部认证码加密错误"));
  ExpectBasicInfoRead(HttpCall(Request("DKQ0002", kRegion)));
  // The same on the WebSocket road.
  ASSERT_EQ(ctl("fault garble nad=22 cmd=80FA skip=1"), "OK");
  EXPECT_EQ(WsCall(Request("DKQ0002", kRegion)), Reply("DKQ0002", -18, "PSAM外部认证码加密错误", nullptr, kRegion));
  EXPECT_EQ(HttpCall(Request("DKQ0001", kRegion)), CardNoOk());
}

TEST_F(MidOperationFault, ShortReportWhileReadingTheHoldersRecords) {
  ASSERT_EQ(ctl(std::string("fault short nad=0x12 cmd=") + kReadSocialNo), "OK");
  EXPECT_EQ(HttpCall(Request("DKQ0002", kRegion)), Failed("DKQ0002", -41, "读社会保障号码错误"));
  ExpectBasicInfoRead(HttpCall(Request("DKQ0002", kRegion)));
}

TEST_F(MidOperationFault, UnansweredCommandFailsWithinTheDriversLimit) {
  // The name record (00 B2 09) is never answered: the driver gives up after
  // its 15-second exchange limit and the operation fails there.
  ASSERT_EQ(ctl("fault noanswer nad=0x12 cmd=00B209"), "OK");
  const auto t = std::chrono::steady_clock::now();
  EXPECT_EQ(HttpCall(Request("DKQ0002", kRegion), 25000), Failed("DKQ0002", -42, "读姓名错误"));
  const auto s = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - t).count();
  EXPECT_GE(s, 14);
  EXPECT_LE(s, 20);
  ExpectBasicInfoRead(HttpCall(Request("DKQ0002", kRegion)));
}

TEST_F(MidOperationFault, ReaderUnpluggedBetweenTwoCommands) {
  // The social-security number's record is held 3 s; the cable is pulled
  // while the service waits for it.
  ASSERT_EQ(ctl(std::string("fault delay 3000 nad=0x12 cmd=") + kReadSocialNo), "OK");
  auto reply = Begin("DKQ0002");
  ASSERT_TRUE(WaitForExchange(kReadSocialNo));
  const auto t = std::chrono::steady_clock::now();
  ASSERT_EQ(ctl("unplug"), "OK");
  EXPECT_EQ(reply.get(), Failed("DKQ0002", -41, "读社会保障号码错误"));
  // Unplugging ends the wait at once, not at the end of the delay.
  EXPECT_LT(std::chrono::steady_clock::now() - t, std::chrono::milliseconds(2500));
  EXPECT_EQ(HttpCall(Request("DKQ0001", kRegion)), Failed("DKQ0001", -1, "未找到设备!"));
  ASSERT_EQ(ctl("plug"), "OK");
  ExpectBasicInfoRead(HttpCall(Request("DKQ0002", kRegion)));
}

TEST_F(MidOperationFault, CardPulledBetweenTwoCommands) {
  ASSERT_EQ(ctl(std::string("fault delay 1500 nad=0x12 cmd=") + kReadSocialNo), "OK");
  auto reply = Begin("DKQ0002");
  ASSERT_TRUE(WaitForExchange(kReadSocialNo));
  const std::string card = profile_["slots"]["contact"].asString();
  ASSERT_EQ(ctl("remove contact"), "OK");
  // The held record was read before the card left; the next one fails.
  EXPECT_EQ(reply.get(), Failed("DKQ0002", -42, "读姓名错误"));
  EXPECT_EQ(HttpCall(Request("DKQ0001", kRegion)), Failed("DKQ0001", -1, "社保卡复位失败!请重新插入社保卡。"));
  ASSERT_EQ(ctl("insert contact " + card), "OK");
  ExpectBasicInfoRead(HttpCall(Request("DKQ0002", kRegion)));
}

TEST_F(MidOperationFault, IdCardReadBrokenOffHalfWay) {
  // The ID module's text-and-photo read (30 01) garbled.
  ASSERT_EQ(ctl("fault garble nad=27 cmd=AAAAAA96690003300132"), "OK");
  EXPECT_EQ(HttpCall(Request("DKQ0005", kRegion)), Failed("DKQ0005", -2, "读取身份证信息失败!"));
  ExpectIdCardRead(HttpCall(Request("DKQ0005", kRegion)));
  // The card taken off the antenna while the module selects it.
  ASSERT_EQ(ctl("fault delay 1500 nad=27 cmd=AAAAAA96690003200221"), "OK");
  auto reply = Begin("DKQ0005");
  ASSERT_TRUE(WaitForExchange("AAAAAA96690003200221"));
  const std::string card = profile_["slots"]["idcard"].asString();
  ASSERT_EQ(ctl("remove idcard"), "OK");
  // The select was answered; the read that follows finds no card.
  EXPECT_EQ(reply.get(), Failed("DKQ0005", -2, "读取身份证信息失败!"));
  ASSERT_EQ(ctl("insert idcard " + card), "OK");
  ExpectIdCardRead(HttpCall(Request("DKQ0005", kRegion)));
  // And the reader pulled in the same place.
  ASSERT_EQ(ctl("fault delay 3000 nad=27 cmd=AAAAAA96690003200221"), "OK");
  reply = Begin("DKQ0005");
  ASSERT_TRUE(WaitForExchange("AAAAAA96690003200221"));
  ASSERT_EQ(ctl("unplug"), "OK");
  // The select itself never gets its answer: the search fails.
  EXPECT_EQ(reply.get(), Failed("DKQ0005", -2, "读取身份证失败!"));
  ASSERT_EQ(ctl("plug"), "OK");
  ExpectIdCardRead(HttpCall(Request("DKQ0005", kRegion)));
}

}  // namespace
}  // namespace e2e
