// The dispatcher: requests it turns away, and every operation with its
// library call, reply data, failures and log lines.
#include <string>

#include "dispatch_helpers.h"

namespace {

const std::string kTran = "\"TranData\":{\"Region\":\"440100\"}";

void ExpectRejected(const std::string &request, const char *msg) {
  SCOPED_TRACE(request);
  Dispatched d = Dispatch(request);
  EXPECT_EQ(d.rc, -1);
  EXPECT_EQ(d.err, msg);
  EXPECT_EQ(d.reply, "untouched");
  EXPECT_EQ(d.log, std::string("\r\n\t ErrMsg = ") + msg);
  EXPECT_TRUE(d.calls.empty());
}

TEST(DispatchRejects, TextThatIsNoJsonObject) {
  for (const std::string &req :
       {std::string(""), std::string("abc"), std::string("{"), std::string("5"),
        std::string("\"DKQ0001\""), std::string("null"), std::string("[]"),
        "[{\"FunID\":\"DKQ0001\"," + kTran + "}]",
        "{\"FunID\":\"DKQ0001\", /* c */ " + kTran + "}",
        "// c\n{\"FunID\":\"DKQ0001\"," + kTran + "}",
        "{\"FunID\":\"DKQ0001\"," + kTran + " // c\n}",
        "{\"FunID\":\"DKQ0001\",\"x\":[1 /* c */]," + kTran + "}",
        "{\"FunID\":\"DKQ0001\",\"x\":\"a\\\"/\"/* c */," + kTran + "}",
        "{'FunID':'DKQ0001'," + kTran + "}", "{\"FunID\":\"DKQ0001\"," + kTran + ",}"})
    ExpectRejected(req, kMsgBadJson);
}

TEST(DispatchRejects, NestingPastTheDepthLimitWithoutThrowing) {
  // Arrays or objects a thousand and more deep make the JSON reader throw.
  for (const std::string &req :
       {std::string(1001, '['), std::string(100000, '['),
        "{\"FunID\":\"DKQ0001\"," + kTran + ",\"x\":" + std::string(5000, '[') + std::string(5000, ']') + "}",
        "{\"FunID\":\"DKQ0001\"," + kTran + ",\"x\":" + [] {
          std::string s;
          for (int i = 0; i < 2000; i++) s += "{\"a\":";
          return s + "1" + std::string(2000, '}');
        }() + "}"})
    ExpectRejected(req, kMsgBadJson);
  // Nesting within the limit is still a request like any other.
  Dispatched d = Dispatch("{\"FunID\":\"DKQ9999\"," + kTran + ",\"x\":" + std::string(500, '[') +
                          std::string(500, ']') + "}");
  EXPECT_EQ(d.rc, 0);
  EXPECT_NE(d.reply.find("\"ResultCode\":-1"), std::string::npos) << d.reply.substr(0, 200);
}

TEST(DispatchRejects, MembersOfTheWrongType) {
  for (const std::string &req :
       {"{\"FunID\":1," + kTran + "}", "{\"FunID\":{\"a\":\"DKQ0001\"}," + kTran + "}",
        "{\"FunID\":true," + kTran + "}", "{\"FunID\":[\"DKQ0001\"]," + kTran + "}",
        std::string("{\"FunID\":\"DKQ0001\",\"TranData\":\"x\"}"),
        std::string("{\"FunID\":\"DKQ0001\",\"TranData\":[]}"),
        std::string("{\"FunID\":\"DKQ0001\",\"TranData\":{\"Region\":440100}}"),
        std::string("{\"FunID\":\"\",\"TranData\":{\"Region\":false}}"),
        Request("DKQ0010", "\"SetAutoRead\":1"), Request("DKQ0011", "\"Timeout\":30"),
        Request("DKQ0012", "\"Timeout\":{}")})
    ExpectRejected(req, kMsgBadJson);
}

TEST(DispatchRejects, MissingEmptyNullOrOversizedFunID) {
  for (const std::string &req :
       {"{" + kTran + "}", "{\"FunID\":\"\"," + kTran + "}", "{\"FunID\":null," + kTran + "}",
        "{\"FunID\":\"DKQ000100X\"," + kTran + "}",
        "{\"FunID\":\"DKQ0001\\u0000\"," + kTran + "}",
        // FunID is checked before Region.
        std::string("{\"FunID\":\"\"}")})
    ExpectRejected(req, kMsgBadFunID);
}

TEST(DispatchRejects, MissingEmptyNullOrOversizedRegion) {
  for (const std::string &req :
       {std::string("{\"FunID\":\"DKQ0001\"}"), std::string("{\"FunID\":\"DKQ0001\",\"TranData\":null}"),
        std::string("{\"FunID\":\"DKQ0001\",\"TranData\":{}}"),
        std::string("{\"FunID\":\"DKQ0001\",\"TranData\":{\"Region\":\"\"}}"),
        std::string("{\"FunID\":\"DKQ0001\",\"TranData\":{\"Region\":null}}"),
        "{\"FunID\":\"DKQ0001\",\"TranData\":{\"Region\":\"" + std::string(100, 'r') + "\"}}"})
    ExpectRejected(req, kMsgBadRegion);
}

TEST(DispatchAccepts, LongestFunIDAndRegion) {
  const std::string region(99, 'r');
  Dispatched d = Dispatch("{\"FunID\":\"DKQ000100\",\"TranData\":{\"Region\":\"" + region + "\"}}");
  EXPECT_EQ(d.rc, 0);
  EXPECT_EQ(d.reply, "{\"ErrorInfo\":\"该功能点暂未开发!\",\"FunID\":\"DKQ000100\",\"ResultCode\":-1,"
                     "\"ResultData\":null,\"TranData\":{\"Region\":\"" + region + "\"}}\n");
}

TEST(DispatchAccepts, TextAfterTheValueAndRepeatedMembers) {
  // Whatever follows the top-level value is ignored, comments included; a
  // repeated member keeps its last value.
  const std::string city = R"({"QMX_ReadCardCity":{"out":{"region":"440300"}}})";
  const std::string reply =
      "{\"ErrorInfo\":\"\",\"FunID\":\"DKQ0004\",\"ResultCode\":0,\"ResultData\":{\"City\":"
      "\"440300\"},\"TranData\":{\"Region\":\"440100\"}}\n";
  for (const std::string &req :
       {Request("DKQ0004") + " trailing", Request("DKQ0004") + "} /* c */ {", Request("DKQ0004") + "\n\n[",
        "{\"FunID\":\"DKQ0001\",\"FunID\":\"DKQ0004\"," + kTran + "}",
        std::string("{\"FunID\":\"DKQ0004\",\"TranData\":{\"Region\":7},\"TranData\":{\"Region\":\"9\",\"Region\":\"440100\"}}")}) {
    SCOPED_TRACE(req);
    Dispatched d = Dispatch(req, city);
    EXPECT_EQ(d.rc, 0);
    EXPECT_EQ(d.reply, reply);
    ASSERT_EQ(d.calls.size(), 1u);
  }
  // A comment inside the value is still refused, trailing text or not.
  ExpectRejected("{\"FunID\":\"DKQ0004\",/**/" + kTran + "} x", kMsgBadJson);
}

TEST(DispatchAccepts, SlashesAndCommentLikeTextInsideStrings) {
  Dispatched d = Dispatch("{\"FunID\":\"DKQ0000\",\"TranData\":{\"Region\":\"a//b/*c*/\\\\\"}}");
  EXPECT_EQ(d.rc, 0);
  EXPECT_EQ(d.reply, "{\"ErrorInfo\":\"该功能点暂未开发!\",\"FunID\":\"DKQ0000\",\"ResultCode\":-1,"
                     "\"ResultData\":null,\"TranData\":{\"Region\":\"a//b/*c*/\\\\\"}}\n");
}

TEST(DispatchAccepts, ParameterOfAnotherOperationInAnyType) {
  // Only the operation that reads a parameter cares about its type.
  Dispatched d = Dispatch(Request("DKQ0004", "\"Timeout\":30,\"SetAutoRead\":[1]"),
                          R"({"QMX_ReadCardCity":{"out":{"region":"440100"}}})");
  EXPECT_EQ(d.rc, 0);
  EXPECT_EQ(d.reply,
            "{\"ErrorInfo\":\"\",\"FunID\":\"DKQ0004\",\"ResultCode\":0,\"ResultData\":{\"City\":"
            "\"440100\"},\"TranData\":{\"Region\":\"440100\",\"SetAutoRead\":[1],\"Timeout\":30}}\n");
}

TEST(DispatchOperations, ReadCardNumber) {
  Dispatched d = Dispatch(Request("DKQ0001"), R"({"QMX_ReadCarNo":{"out":{"cardNo":"A12345678"}}})");
  EXPECT_EQ(d.rc, 0);
  EXPECT_EQ(d.err, "");
  EXPECT_EQ(d.reply,
            "{\"ErrorInfo\":\"\",\"FunID\":\"DKQ0001\",\"ResultCode\":0,\"ResultData\":{\"CardNo\":"
            "\"A12345678\",\"CardType\":\"2\"},\"TranData\":{\"Region\":\"440100\"}}\n");
  EXPECT_EQ(d.log, "\nFunID:DKQ0001\n\r\n开始读社保卡卡号\r\n");
  ASSERT_EQ(d.calls.size(), 1u);
  EXPECT_EQ(d.calls[0], R"({"fn":"QMX_ReadCarNo","zeroed":true})");
}

TEST(DispatchOperations, ReadBasicInformation) {
  Dispatched d = Dispatch(Request("DKQ0002"), R"({"QMX_ReadCardBas":{"out":{
      "certId":"C0C1C2C3C4C5C6C7C8C9CACBCCCDCECF","cardType":"3","specVer":"3.00",
      "initOrgNo":"440100000000000000000000","issueDate":"20200101","validDate":"20300101",
      "cardNo":"A12345678","socialNo":"440101199001011234","name":"张三","sex":"男",
      "nation":"汉族","birthPlace":"440101","birthDate":"19900101"}}})");
  EXPECT_EQ(d.rc, 0);
  EXPECT_EQ(d.reply,
            "{\"ErrorInfo\":\"\",\"FunID\":\"DKQ0002\",\"ResultCode\":0,\"ResultData\":{"
            "\"Address\":\"440101\",\"Birthday\":\"19900101\",\"CardNo\":\"A12345678\","
            "\"CardType\":\"3\",\"Company\":\"\",\"ID\":\"440101199001011234\",\"IDType\":\"01\","
            "\"IssueDate\":\"20200101\",\"IssueDeptID\":\"440100000000000000000000\","
            "\"Name\":\"张三\",\"Sex\":\"男\",\"Telephone\":\"\"},"
            "\"TranData\":{\"Region\":\"440100\"}}\n");
  EXPECT_EQ(d.log, "\nFunID:DKQ0002\n\r\n开始读社保卡医保读卡接口\r\n");
  ASSERT_EQ(d.calls.size(), 1u);
  EXPECT_EQ(d.calls[0], R"({"fn":"QMX_ReadCardBas","zeroed":true})");
}

TEST(DispatchOperations, ReadCardNumberAndIdentificationCode) {
  Dispatched d = Dispatch(Request("DKQ0003"), R"({"QMX_ReadCardCertID":{"out":{
      "cardNo":"A12345678","certId":"44010000000000000000000000000001"}}})");
  EXPECT_EQ(d.reply,
            "{\"ErrorInfo\":\"\",\"FunID\":\"DKQ0003\",\"ResultCode\":0,\"ResultData\":{"
            "\"CardCertID\":\"44010000000000000000000000000001\",\"CardNo\":\"A12345678\","
            "\"CardType\":\"2\"},\"TranData\":{\"Region\":\"440100\"}}\n");
  EXPECT_EQ(d.log, "\nFunID:DKQ0003\n\r\n开始读社保卡卡识别码接口\r\n");
  EXPECT_EQ(d.calls, std::vector<std::string>{R"({"fn":"QMX_ReadCardCertID","zeroed":true})"});
}

TEST(DispatchOperations, ReadRegionCode) {
  Dispatched d = Dispatch(Request("DKQ0004"), R"({"QMX_ReadCardCity":{"out":{"region":"440300"}}})");
  EXPECT_EQ(d.reply,
            "{\"ErrorInfo\":\"\",\"FunID\":\"DKQ0004\",\"ResultCode\":0,\"ResultData\":{\"City\":"
            "\"440300\"},\"TranData\":{\"Region\":\"440100\"}}\n");
  EXPECT_EQ(d.log, "\nFunID:DKQ0004\n\r\n开始读社保卡地区编号接口\r\n");
  EXPECT_EQ(d.calls, std::vector<std::string>{R"({"fn":"QMX_ReadCardCity","zeroed":true})"});
}

TEST(DispatchOperations, ReadIdCard) {
  Dispatched d = Dispatch(Request("DKQ0005"), R"({"QMX_IDCard_Read":{"out":{
      "name":"李四","sex":"女","nation":"汉","birthDate":"19851231","address":"广东省广州市",
      "idNumber":"44010119851231002X","authority":"广州市公安局","validStart":"20150101",
      "validEnd":"20350101"}}})");
  EXPECT_EQ(d.reply,
            "{\"ErrorInfo\":\"\",\"FunID\":\"DKQ0005\",\"ResultCode\":0,\"ResultData\":{"
            "\"Activity\":\"20150101\",\"Address\":\"广东省广州市\",\"Born\":\"19851231\","
            "\"CardNo\":\"44010119851231002X\",\"Name\":\"李四\",\"Police\":\"广州市公安局\"},"
            "\"TranData\":{\"Region\":\"440100\"}}\n");
  EXPECT_EQ(d.log, "\nFunID:DKQ0005\n\r\n开始读身份证接口\r\n");
  EXPECT_EQ(d.calls, std::vector<std::string>{R"({"fn":"QMX_IDCard_Read","zeroed":true})"});
}

TEST(DispatchOperations, ReadBankAccountNumber) {
  Dispatched d = Dispatch(Request("DKQ0007"),
                          R"({"QMX_ICBankCard_ReadNO":{"out":{"accountNo":"6222021234567890123"}}})");
  EXPECT_EQ(d.reply,
            "{\"ErrorInfo\":\"\",\"FunID\":\"DKQ0007\",\"ResultCode\":0,\"ResultData\":{"
            "\"MagBankNo\":\"6222021234567890123\"},\"TranData\":{\"Region\":\"440100\"}}\n");
  EXPECT_EQ(d.log, "\nFunID:DKQ0007\n\r\n开始读芯片银行卡\r\n");
  EXPECT_EQ(d.calls, std::vector<std::string>{R"({"fn":"QMX_ICBankCard_ReadNO","zeroed":true})"});
}

TEST(DispatchOperations, SetScanMode) {
  Dispatched d = Dispatch(Request("DKQ0010", "\"SetAutoRead\":\"1\""));
  EXPECT_EQ(d.reply,
            "{\"ErrorInfo\":\"\",\"FunID\":\"DKQ0010\",\"ResultCode\":0,\"ResultData\":null,"
            "\"TranData\":{\"Region\":\"440100\",\"SetAutoRead\":\"1\"}}\n");
  EXPECT_EQ(d.log, "\nFunID:DKQ0010\n\r\n开始设置扫码模式\r\n1");
  EXPECT_EQ(d.calls,
            std::vector<std::string>{R"({"fn":"QMX_ECard_SetAutoRead","mode":1,"zeroed":true})"});
}

TEST(DispatchOperations, ReadQrCode) {
  Dispatched d = Dispatch(Request("DKQ0011", "\"Timeout\":\"30\""),
                          R"({"QMX_ECard_Read":{"out":{"out":"https://example.invalid/qr?id=7"}}})");
  EXPECT_EQ(d.reply,
            "{\"ErrorInfo\":\"\",\"FunID\":\"DKQ0011\",\"ResultCode\":0,\"ResultData\":{"
            "\"ECardInfo\":\"https://example.invalid/qr?id=7\"},\"TranData\":{\"Region\":"
            "\"440100\",\"Timeout\":\"30\"}}\n");
  EXPECT_EQ(d.log, "\nFunID:DKQ0011\n\r\n开始读取手动扫码信息\r\n30");
  EXPECT_EQ(d.calls, std::vector<std::string>{
                         R"({"fn":"QMX_ECard_Read","outLen":0,"timeout":30,"zeroed":true})"});
}

TEST(DispatchOperations, SetAutomaticReadInterval) {
  Dispatched d = Dispatch(Request("DKQ0012", "\"Timeout\":\"500\""));
  EXPECT_EQ(d.reply,
            "{\"ErrorInfo\":\"\",\"FunID\":\"DKQ0012\",\"ResultCode\":0,\"ResultData\":null,"
            "\"TranData\":{\"Region\":\"440100\",\"Timeout\":\"500\"}}\n");
  EXPECT_EQ(d.log, "\nFunID:DKQ0012\n\r\n开始设置自动扫码间隔\r\n");
  EXPECT_EQ(d.calls, std::vector<std::string>{
                         R"({"fn":"QMX_ECard_AutoReadTime","interval":500,"zeroed":true})"});
}

struct FailureCase {
  const char *funId;
  const char *fn;
  const char *extra;
  const char *startLine;
};

TEST(DispatchOperations, LibraryFailureGivesItsCodeAndText) {
  const FailureCase cases[] = {
      {"DKQ0001", "QMX_ReadCarNo", "", "\r\n开始读社保卡卡号\r\n"},
      {"DKQ0002", "QMX_ReadCardBas", "", "\r\n开始读社保卡医保读卡接口\r\n"},
      {"DKQ0003", "QMX_ReadCardCertID", "", "\r\n开始读社保卡卡识别码接口\r\n"},
      {"DKQ0004", "QMX_ReadCardCity", "", "\r\n开始读社保卡地区编号接口\r\n"},
      {"DKQ0005", "QMX_IDCard_Read", "", "\r\n开始读身份证接口\r\n"},
      {"DKQ0007", "QMX_ICBankCard_ReadNO", "", "\r\n开始读芯片银行卡\r\n"},
      {"DKQ0010", "QMX_ECard_SetAutoRead", "\"SetAutoRead\":\"0\"", "\r\n开始设置扫码模式\r\n0"},
      {"DKQ0011", "QMX_ECard_Read", "\"Timeout\":\"5\"", "\r\n开始读取手动扫码信息\r\n5"},
      {"DKQ0012", "QMX_ECard_AutoReadTime", "\"Timeout\":\"10000\"", "\r\n开始设置自动扫码间隔\r\n"},
  };
  for (const FailureCase &c : cases) {
    SCOPED_TRACE(c.funId);
    // Outputs written on failure must not reach the reply.
    const std::string script = std::string("{\"") + c.fn +
                               "\":{\"ret\":-36,\"err\":\"读社保卡号错误\",\"out\":{\"cardNo\":\"X\","
                               "\"region\":\"X\",\"name\":\"X\",\"accountNo\":\"X\",\"out\":\"X\"}}}";
    Dispatched d = Dispatch(Request(c.funId, c.extra), script);
    EXPECT_EQ(d.rc, 0);
    EXPECT_EQ(d.err, "读社保卡号错误");
    Json::Value r = ParseJson(d.reply);
    EXPECT_EQ(r["ResultCode"].asInt(), -36);
    EXPECT_EQ(r["ErrorInfo"].asString(), "读社保卡号错误");
    EXPECT_TRUE(r.isMember("ResultData") && r["ResultData"].isNull());
    EXPECT_EQ(r["FunID"].asString(), c.funId);
    EXPECT_EQ(d.log, std::string("\nFunID:") + c.funId + "\n" + c.startLine +
                         "============-36\r\n\r\n\t ErrMsg = 读社保卡号错误\r\n");
    ASSERT_EQ(d.calls.size(), 1u);
    EXPECT_EQ(ParseJson(d.calls[0])["fn"].asString(), c.fn);
  }
}

TEST(DispatchOperations, FailureWithoutMessageGivesEmptyErrorInfo) {
  Dispatched d = Dispatch(Request("DKQ0012", "\"Timeout\":\"1\""), R"({"QMX_ECard_AutoReadTime":{"ret":-4}})");
  EXPECT_EQ(d.reply,
            "{\"ErrorInfo\":\"\",\"FunID\":\"DKQ0012\",\"ResultCode\":-4,\"ResultData\":null,"
            "\"TranData\":{\"Region\":\"440100\",\"Timeout\":\"1\"}}\n");
  EXPECT_EQ(d.log, "\nFunID:DKQ0012\n\r\n开始设置自动扫码间隔\r\n============-4\r\n\r\n\t ErrMsg = \r\n");
}

TEST(DispatchOperations, OutputFillingItsWholeBufferIsReadToTheEnd) {
  // The library may copy without a terminator; the text ends with the buffer.
  const std::string full(32, '7');
  Dispatched d = Dispatch(Request("DKQ0007"),
                          "{\"QMX_ICBankCard_ReadNO\":{\"out\":{\"accountNo\":\"" + full + "\"}}}");
  EXPECT_EQ(ParseJson(d.reply)["ResultData"]["MagBankNo"].asString(), full);
  const std::string qr(1024, 'q');
  d = Dispatch(Request("DKQ0011", "\"Timeout\":\"3\""),
               "{\"QMX_ECard_Read\":{\"out\":{\"out\":\"" + qr + "\"}}}");
  EXPECT_EQ(ParseJson(d.reply)["ResultData"]["ECardInfo"].asString(), qr);
}

TEST(DispatchScanner, ModeIsTheLowByteOfTheConvertedText) {
  struct {
    const char *text;
    int mode;
    const char *printed;
  } cases[] = {{"257", 1, "257"},  {"abc", 0, "0"},       {"", 0, "0"},
               {"  +0", 0, "0"},   {" -1", 255, "-1"},    {"12abc", 12, "12"},
               {"99999999999", 255, "1215752191"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    Dispatched d = Dispatch(Request("DKQ0010", std::string("\"SetAutoRead\":\"") + c.text + "\""));
    EXPECT_EQ(d.log, std::string("\nFunID:DKQ0010\n\r\n开始设置扫码模式\r\n") + c.printed);
    ASSERT_EQ(d.calls.size(), 1u);
    EXPECT_EQ(ParseJson(d.calls[0])["mode"].asInt(), c.mode);
  }
}

TEST(DispatchScanner, TimeoutIsTheLow32BitsOfTheConvertedText) {
  struct {
    const char *text;
    unsigned value;
  } cases[] = {{"0", 0}, {"-1", 4294967295u}, {"4294967297", 1}, {"x", 0}, {"", 0}, {" 45s", 45}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    Dispatched d = Dispatch(Request("DKQ0011", std::string("\"Timeout\":\"") + c.text + "\""));
    EXPECT_EQ(d.log, "\nFunID:DKQ0011\n\r\n开始读取手动扫码信息\r\n" + std::to_string(c.value));
    ASSERT_EQ(d.calls.size(), 1u);
    EXPECT_EQ(ParseJson(d.calls[0])["timeout"].asUInt(), c.value);
    d = Dispatch(Request("DKQ0012", std::string("\"Timeout\":\"") + c.text + "\""));
    EXPECT_EQ(d.log, "\nFunID:DKQ0012\n\r\n开始设置自动扫码间隔\r\n");
    ASSERT_EQ(d.calls.size(), 1u);
    EXPECT_EQ(ParseJson(d.calls[0])["interval"].asUInt(), c.value);
  }
}

TEST(DispatchScanner, MissingOrNullParameterIsAnsweredWithoutACall) {
  struct {
    std::string request;
    std::string reply;
    std::string startLine;
  } cases[] = {
      {Request("DKQ0010"),
       "{\"ErrorInfo\":\"缺少SetAutoRead 参数!\",\"FunID\":\"DKQ0010\",\"ResultCode\":-1,"
       "\"ResultData\":null,\"TranData\":{\"Region\":\"440100\",\"SetAutoRead\":null}}\n",
       "\r\n开始设置扫码模式\r\n"},
      {Request("DKQ0010", "\"SetAutoRead\":null"),
       "{\"ErrorInfo\":\"缺少SetAutoRead 参数!\",\"FunID\":\"DKQ0010\",\"ResultCode\":-1,"
       "\"ResultData\":null,\"TranData\":{\"Region\":\"440100\",\"SetAutoRead\":null}}\n",
       "\r\n开始设置扫码模式\r\n"},
      {Request("DKQ0011"),
       "{\"ErrorInfo\":\"缺少TimeOut 参数!\",\"FunID\":\"DKQ0011\",\"ResultCode\":-1,"
       "\"ResultData\":null,\"TranData\":{\"Region\":\"440100\",\"Timeout\":null}}\n",
       "\r\n开始读取手动扫码信息\r\n"},
      {Request("DKQ0012", "\"TimeOut\":\"5\""),
       "{\"ErrorInfo\":\"缺少TimeOut 参数!\",\"FunID\":\"DKQ0012\",\"ResultCode\":-1,"
       "\"ResultData\":null,\"TranData\":{\"Region\":\"440100\",\"TimeOut\":\"5\",\"Timeout\":null}}\n",
       "\r\n开始设置自动扫码间隔\r\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.request);
    Dispatched d = Dispatch(c.request);
    EXPECT_EQ(d.rc, 0);
    EXPECT_EQ(d.reply, c.reply);
    EXPECT_EQ(d.err, "");  // not a rejection: only ErrorInfo carries it
    EXPECT_EQ(d.log, "\nFunID:" + ParseJson(c.request)["FunID"].asString() + "\n" + c.startLine);
    EXPECT_TRUE(d.calls.empty());
  }
}

}  // namespace
