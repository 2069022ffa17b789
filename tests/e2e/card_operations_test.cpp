// Every operation of the service on the real stack (hwservice, libtessera,
// libportico, libhidlink) against the virtual reader with the demo cards:
// the reply text byte for byte on both roads, the bytes the reader
// received, and the library's codes and texts when things go wrong.
#include <chrono>
#include <thread>

#include "vreader_service.h"

namespace e2e {
namespace {

const Fields kRegion = {{"Region", "440100"}};

std::string Str(const Json::Value &card, const char *member) {
  const Json::Value &v = card[member];
  EXPECT_TRUE(v.isString() && !v.asString().empty()) << "the demo profile must give " << member;
  return v.asString();
}

std::string Upper(std::string s) {
  for (char &c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return s;
}

bool Has(const std::vector<std::string> &cmds, const std::string &cmd) {
  for (const std::string &c : cmds)
    if (c == cmd) return true;
  return false;
}

int64_t MsSince(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t).count();
}

enum class Road { Http, WebSocket };

class CardOperations : public ServiceOnVreader {
 protected:
  // Sends a request on the road and expects exactly this reply text.
  void Expect(Road road, const std::string &request, const std::string &reply) {
    if (road == Road::Http)
      EXPECT_EQ(HttpCall(request), HttpOk(reply)) << request;
    else
      EXPECT_EQ(WsCall(request), reply) << request;
  }
  void ExpectFailure(const std::string &funId, const Fields &tran, int code, const std::string &text) {
    Expect(Road::Http, Request(funId, tran), Reply(funId, code, text, nullptr, tran));
  }

  // The holder's record as the service must return it, from the profile.
  Fields BasicInfo(const Json::Value &ss) {
    const std::string sex = Str(ss, "sex");
    EXPECT_TRUE(sex == "1" || sex == "2") << sex;
    return {{"Address", Str(ss, "birth_place")},
            {"Birthday", Str(ss, "birth_date")},
            {"CardNo", Str(ss, "card_no")},
            {"CardType", Str(ss, "card_type")},
            {"Company", ""},
            {"ID", Str(ss, "social_no")},
            {"IDType", "01"},
            {"IssueDate", Str(ss, "issue_date")},
            {"IssueDeptID", Upper(Str(ss, "init_org"))},
            {"Name", Str(ss, "name") + ss["name_ext"].asString()},
            {"Sex", sex == "1" ? "男" : "女"},
            {"Telephone", ""}};
  }

  // Every operation, each succeeding with the data of the demo cards.
  void EveryOperationSucceeds(Road road) {
    const Json::Value &profile = profile_;
    const Json::Value &ss = Card(profile["slots"]["contact"].asString());
    const Json::Value &id = Card(profile["slots"]["idcard"].asString());
    const Json::Value &bank = Card("bank");
    const std::string certId = Upper(Str(ss, "cert_id"));
    ASSERT_EQ(certId.size(), 32u);

    Fields d = {{"CardNo", Str(ss, "card_no")}, {"CardType", "2"}};
    Expect(road, Request("DKQ0001", kRegion), Reply("DKQ0001", 0, "", &d, kRegion));

    d = BasicInfo(ss);
    Expect(road, Request("DKQ0002", kRegion), Reply("DKQ0002", 0, "", &d, kRegion));

    d = {{"CardCertID", certId}, {"CardNo", Str(ss, "card_no")}, {"CardType", "2"}};
    Expect(road, Request("DKQ0003", kRegion), Reply("DKQ0003", 0, "", &d, kRegion));

    d = {{"City", certId.substr(0, 6)}};
    Expect(road, Request("DKQ0004", kRegion), Reply("DKQ0004", 0, "", &d, kRegion));

    d = {{"Activity", Str(id, "start")}, {"Address", Str(id, "address")}, {"Born", Str(id, "birth")},
         {"CardNo", Str(id, "number")},  {"Name", Str(id, "name")},       {"Police", Str(id, "authority")}};
    Expect(road, Request("DKQ0005", kRegion), Reply("DKQ0005", 0, "", &d, kRegion));

    ASSERT_EQ(ctl("insert contact bank"), "OK");
    d = {{"MagBankNo", Str(bank, "pan")}};
    Expect(road, Request("DKQ0007", kRegion), Reply("DKQ0007", 0, "", &d, kRegion));
    ASSERT_EQ(ctl("insert contact " + profile["slots"]["contact"].asString()), "OK");

    ASSERT_EQ(ctl("clearlog"), "OK");
    Fields tran = {{"Region", "440100"}, {"SetAutoRead", "1"}};
    Expect(road, Request("DKQ0010", tran), Reply("DKQ0010", 0, "", nullptr, tran));
    tran["SetAutoRead"] = "0";
    Expect(road, Request("DKQ0010", tran), Reply("DKQ0010", 0, "", nullptr, tran));

    // A code shown before the request is kept by the reader for the next wait.
    ASSERT_EQ(ctl("present ecard"), "OK");
    tran = {{"Region", "440100"}, {"Timeout", "30"}};
    d = {{"ECardInfo", profile["qrcodes"]["ecard"].asString()}};
    ASSERT_FALSE(d["ECardInfo"].empty());
    Expect(road, Request("DKQ0011", tran), Reply("DKQ0011", 0, "", &d, tran));

    tran = {{"Region", "440100"}, {"Timeout", "500"}};
    Expect(road, Request("DKQ0012", tran), Reply("DKQ0012", 0, "", nullptr, tran));

    const std::vector<std::string> cmds = WireCommands(vr_);
    EXPECT_TRUE(Has(cmds, "1C 8017030000")) << "mode 1: automatic";
    EXPECT_TRUE(Has(cmds, "1C 8017030100")) << "mode 0: manual";
    EXPECT_TRUE(Has(cmds, "1C B0B0001E00")) << "a 30-second wait";
    // "FP-3N010=0500;"
    EXPECT_TRUE(Has(cmds, "1C B0D000000E46502D334E3031303D303530303B"));
  }
};

TEST_F(CardOperations, EveryOperationSucceedsOverHttpWithTheDemoCardsData) {
  EveryOperationSucceeds(Road::Http);
}

TEST_F(CardOperations, EveryOperationSucceedsOverWebSocketWithTheDemoCardsData) {
  EveryOperationSucceeds(Road::WebSocket);
}

// Keep-alive: the LF after each counted body stays between the replies.
TEST_F(CardOperations, TwoReadsOnOneConnectionComeBackToBack) {
  const Json::Value &ss = Card(profile_["slots"]["contact"].asString());
  const Fields d = {{"CardNo", Str(ss, "card_no")}, {"CardType", "2"}};
  const std::string reply = Reply("DKQ0001", 0, "", &d, kRegion);
  auto c = hwtest::Conn::Open(kPort);
  ASSERT_TRUE(c);
  const std::string req = hwtest::PostRequest("/http/hardware", Request("DKQ0001", kRegion));
  ASSERT_TRUE(c->Send(req + req));
  const std::string want = HttpOk(reply) + HttpOk(reply);
  EXPECT_EQ(c->ReadN(want.size(), 10000), want);
  EXPECT_EQ(c->ReadQuiet(200, 1000), "");
}

TEST_F(CardOperations, WebSocketRequestsReachTheDispatcherAsGbkAndHttpAsSent) {
  const Json::Value &id = Card(profile_["slots"]["idcard"].asString());
  const Fields utf8 = {{"Region", "深圳市"}};
  const Fields gbk = {{"Region", "\xC9\xEE\xDB\xDA\xCA\xD0"}};
  const std::string certId = Upper(Str(Card(profile_["slots"]["contact"].asString()), "cert_id"));
  const Fields city = {{"City", certId.substr(0, 6)}};
  Expect(Road::Http, Request("DKQ0004", utf8), Reply("DKQ0004", 0, "", &city, utf8));
  Expect(Road::WebSocket, Request("DKQ0004", utf8), Reply("DKQ0004", 0, "", &city, gbk));
  // The card's Chinese texts stay UTF-8 on both roads.
  const Fields person = {{"Activity", Str(id, "start")}, {"Address", Str(id, "address")},
                         {"Born", Str(id, "birth")},     {"CardNo", Str(id, "number")},
                         {"Name", Str(id, "name")},      {"Police", Str(id, "authority")}};
  Expect(Road::WebSocket, Request("DKQ0005", utf8), Reply("DKQ0005", 0, "", &person, gbk));
  Expect(Road::Http, Request("DKQ0005", utf8), Reply("DKQ0005", 0, "", &person, utf8));
}

TEST_F(CardOperations, EmptySlotsGiveTheLibrarysCodesAndTexts) {
  ASSERT_EQ(ctl("remove contact"), "OK");
  ASSERT_EQ(ctl("remove idcard"), "OK");
  ExpectFailure("DKQ0001", kRegion, -1, "社保卡复位失败!请重新插入社保卡。");
  ExpectFailure("DKQ0002", kRegion, -1, "复位失败");
  ExpectFailure("DKQ0003", kRegion, -1, "社保卡复位失败!请重新插入社保卡。");
  ExpectFailure("DKQ0004", kRegion, -1, "读取地区编码失败!");
  ExpectFailure("DKQ0005", kRegion, -2, "读取身份证失败!");
  ExpectFailure("DKQ0007", kRegion, -3, "复位失败!");
  // The same failure on the WebSocket road.
  Expect(Road::WebSocket, Request("DKQ0001", kRegion),
         Reply("DKQ0001", -1, "社保卡复位失败!请重新插入社保卡。", nullptr, kRegion));
  // A social-security card is no bank card: it has no payment application.
  ASSERT_EQ(ctl("insert contact ss3"), "OK");
  ExpectFailure("DKQ0007", kRegion, -5, "卡片不存在金融应用!");
}

TEST_F(CardOperations, PsamOfAnotherKeyFailsTheAuthenticationAndTheRightOneReadsAgain) {
  ASSERT_EQ(ctl("insert psam1 psam_other"), "OK");
  ExpectFailure("DKQ0002", kRegion, -31, "内部认证错误");
  // Nothing is left behind: with the matching PSAM back the card reads.
  ASSERT_EQ(ctl("insert psam1 psam"), "OK");
  const Fields d = BasicInfo(Card(profile_["slots"]["contact"].asString()));
  Expect(Road::Http, Request("DKQ0002", kRegion), Reply("DKQ0002", 0, "", &d, kRegion));
  // No PSAM at all.
  ASSERT_EQ(ctl("remove psam1"), "OK");
  ExpectFailure("DKQ0002", kRegion, -13, "PSAM卡复位失败,请插入PSAM卡！");
}

TEST_F(CardOperations, WithoutAReaderEveryOperationReportsIt) {
  ASSERT_EQ(ctl("unplug"), "OK");
  const std::string none = "未找到设备!";
  for (const char *f : {"DKQ0001", "DKQ0002", "DKQ0003", "DKQ0004", "DKQ0005"}) ExpectFailure(f, kRegion, -1, none);
  ExpectFailure("DKQ0007", kRegion, -100, none);
  const Fields mode = {{"Region", "440100"}, {"SetAutoRead", "1"}};
  ExpectFailure("DKQ0010", mode, -1, none);
  const Fields timeout = {{"Region", "440100"}, {"Timeout", "5"}};
  ExpectFailure("DKQ0011", timeout, -100, none);
  ExpectFailure("DKQ0012", timeout, -100, none);
  // Plugged back in, the next request finds it.
  ASSERT_EQ(ctl("plug"), "OK");
  const Fields d = {{"CardNo", Str(Card(profile_["slots"]["contact"].asString()), "card_no")}, {"CardType", "2"}};
  Expect(Road::Http, Request("DKQ0001", kRegion), Reply("DKQ0001", 0, "", &d, kRegion));
}

TEST_F(CardOperations, ScannerRefusalsKeepTheLibrarysTexts) {
  ASSERT_EQ(ctl("clearlog"), "OK");
  ExpectFailure("DKQ0010", {{"Region", "440100"}, {"SetAutoRead", "2"}}, -3, "未知参数!请重新设置扫码模式。");
  ExpectFailure("DKQ0012", {{"Region", "440100"}, {"Timeout", "10000"}}, -3, "");
  for (const std::string &c : WireCommands(vr_)) EXPECT_NE(c.substr(0, 2), "1C") << "sent to the scanner: " << c;
}

TEST_F(CardOperations, NoQrCodeBeforeTheTimeOutFailsAfterTheWholeWait) {
  const Fields tran = {{"Region", "440100"}, {"Timeout", "5"}};
  ASSERT_EQ(ctl("clearlog"), "OK");
  const auto t = std::chrono::steady_clock::now();
  ExpectFailure("DKQ0011", tran, -3, "Instruction execution error!");
  // Five reader seconds at a tenth of real time.
  const int64_t ms = MsSince(t);
  EXPECT_GE(ms, 450);
  EXPECT_LT(ms, 4000);
  EXPECT_TRUE(Has(WireCommands(vr_), "1C B0B0000500"));
}

TEST_F(CardOperations, QrCodeShownDuringTheWaitIsTheAnswer) {
  // 60 reader seconds: six real ones, ample time to show the code.
  const Fields tran = {{"Region", "440100"}, {"Timeout", "60"}};
  auto c = hwtest::Conn::Open(kPort);
  ASSERT_TRUE(c);
  ASSERT_TRUE(c->Send(hwtest::PostRequest("/http/hardware", Request("DKQ0011", tran))));
  bool waiting = false;
  for (int i = 0; i < 100 && !waiting; i++) {
    waiting = ctl("state").find("\"waiting\":\"scan\"") != std::string::npos;
    if (!waiting) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(waiting) << ctl("state");
  ASSERT_EQ(ctl("present text=QMX-E2E-0001"), "OK");
  const Fields d = {{"ECardInfo", "QMX-E2E-0001"}};
  const std::string reply = Reply("DKQ0011", 0, "", &d, tran);
  const std::string r = c->ReadHttpReply(3000);
  EXPECT_EQ(r + c->ReadN(1, 1000), HttpOk(reply));
}

}  // namespace
}  // namespace e2e
