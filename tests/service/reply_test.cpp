// The reply text (members, order, escapes, bytes passed through), the HTTP
// road's handler with its log lines, and the UTF-8 to GBK conversion.
#include <algorithm>
#include <cstring>
#include <string>

#include "dispatch_helpers.h"

namespace {

TEST(DispatchReply, UnimplementedFunIDEchoesTheRequest) {
  for (const char *funId : {"DKQ0006", "DKQ0008", "DKQ0009", "dkq0001", "DKQ001", "DKQ0001 "}) {
    SCOPED_TRACE(funId);
    Dispatched d = Dispatch(std::string("{\"Extra\":{\"b\":[1,true,null],\"a\":\"x\"},\"FunID\":\"") +
                            funId + "\",\"TranData\":{\"Region\":\"440100\",\"Other\":7}}");
    EXPECT_EQ(d.rc, 0);
    EXPECT_EQ(d.reply, std::string("{\"ErrorInfo\":\"该功能点暂未开发!\",\"Extra\":{\"a\":\"x\",\"b\":[1,true,null]},"
                                   "\"FunID\":\"") +
                           funId +
                           "\",\"ResultCode\":-1,\"ResultData\":null,\"TranData\":{\"Other\":7,"
                           "\"Region\":\"440100\"}}\n");
    EXPECT_EQ(d.err, "");
    EXPECT_EQ(d.log, std::string("\nFunID:") + funId + "\n");
    EXPECT_TRUE(d.calls.empty());
  }
}

TEST(DispatchReply, ReplyMembersReplaceThoseTheClientSent) {
  Dispatched d = Dispatch(
      "{\"ResultCode\":99,\"ErrorInfo\":\"old\",\"ResultData\":{\"x\":1},\"FunID\":\"DKQ0004\","
      "\"TranData\":{\"Region\":\"1\"}}",
      R"({"QMX_ReadCardCity":{"out":{"region":"440300"}}})");
  EXPECT_EQ(d.reply,
            "{\"ErrorInfo\":\"\",\"FunID\":\"DKQ0004\",\"ResultCode\":0,\"ResultData\":{\"City\":"
            "\"440300\"},\"TranData\":{\"Region\":\"1\"}}\n");
}

TEST(DispatchReply, MembersAreSortedByBytesAndNumbersKeepTheirValue) {
  Dispatched d = Dispatch(
      "{\"z\":1,\"B\":-2,\"a\":0.5,\"\xe4\xb8\xad\":1e3,\"_\":[],\"A\":{},\"FunID\":\"DKQ0000\","
      "\"TranData\":{\"Region\":\"r\"},\"big\":18446744073709551615,\"neg\":-9223372036854775808}");
  EXPECT_EQ(d.reply,
            "{\"A\":{},\"B\":-2,\"ErrorInfo\":\"该功能点暂未开发!\",\"FunID\":\"DKQ0000\","
            "\"ResultCode\":-1,\"ResultData\":null,\"TranData\":{\"Region\":\"r\"},\"_\":[],"
            "\"a\":0.5,\"big\":18446744073709551615,\"neg\":-9223372036854775808,\"z\":1,"
            "\"\xe4\xb8\xad\":1000.0}\n");
}

TEST(DispatchReply, EscapesQuotesBackslashesAndControlCharacters) {
  Dispatched d = Dispatch(
      "{\"FunID\":\"DKQ0000\",\"TranData\":{\"Region\":\"a\\\"b\\\\c\\/d\\u0001\\t\\n\\u007f\"}}");
  EXPECT_EQ(d.reply,
            "{\"ErrorInfo\":\"该功能点暂未开发!\",\"FunID\":\"DKQ0000\",\"ResultCode\":-1,"
            "\"ResultData\":null,\"TranData\":{\"Region\":\"a\\\"b\\\\c/d\\u0001\\t\\n\x7f\"}}\n");
}

TEST(DispatchReply, BytesAbove0x7FPassThroughValidOrNot) {
  // GBK "广州" (what the WebSocket road hands over) is no valid UTF-8.
  const std::string gbk = "\xB9\xE3\xD6\xDD";
  Dispatched d = Dispatch("{\"FunID\":\"DKQ0004\",\"TranData\":{\"Region\":\"" + gbk + "\"}}",
                          R"({"QMX_ReadCardCity":{"out_hex":{"region":"FF80C0"}}})");
  EXPECT_EQ(d.reply,
            "{\"ErrorInfo\":\"\",\"FunID\":\"DKQ0004\",\"ResultCode\":0,\"ResultData\":{\"City\":"
            "\"\xFF\x80\xC0\"},\"TranData\":{\"Region\":\"" + gbk + "\"}}\n");
  // The library's UTF-8 texts (messages included) arrive unchanged.
  d = Dispatch("{\"FunID\":\"DKQ0005\",\"TranData\":{\"Region\":\"广州\"}}",
               R"({"QMX_IDCard_Read":{"ret":-2,"err":"身份证读卡失败"}})");
  EXPECT_EQ(d.reply,
            "{\"ErrorInfo\":\"身份证读卡失败\",\"FunID\":\"DKQ0005\",\"ResultCode\":-2,"
            "\"ResultData\":null,\"TranData\":{\"Region\":\"广州\"}}\n");
}

TEST(DispatchReply, ErrorTextIsReadUpToTheBufferEnd) {
  // 1023 bytes and the terminator the fake writes: the longest message.
  const std::string msg(1023, 'e');
  Dispatched d = Dispatch(Request("DKQ0001"), "{\"QMX_ReadCarNo\":{\"ret\":-1,\"err\":\"" + msg + "\"}}");
  EXPECT_EQ(ParseJson(d.reply)["ErrorInfo"].asString(), msg);
  EXPECT_EQ(d.err, msg);
}

TEST(DispatchReply, SameRequestTwiceGivesTheSameReply) {
  const std::string script = R"({"QMX_ReadCarNo":{"out":{"cardNo":"A12345678"}}})";
  Dispatched a = Dispatch(Request("DKQ0001"), script);
  Dispatched b = Dispatch(Request("DKQ0001"), script);
  EXPECT_EQ(a.reply, b.reply);
  EXPECT_EQ(b.calls, std::vector<std::string>{R"({"fn":"QMX_ReadCarNo","zeroed":true})"});
}

struct Sent {
  int count = 0;
  std::string text;
};

TEST(HttpRoad, HandsTheReplyToTheSenderAndLogs) {
  TesseraFake_SetScript(R"({"QMX_ReadCarNo":{"out":{"cardNo":"A12345678"}}})");
  Sent sent;
  const std::string body = Request("DKQ0001");
  SvcLogFlush(2000);  // nothing logged before belongs to this capture
  testing::internal::CaptureStdout();
  bool ok = DoHttpHandle("/http/hardware", body, nullptr, [&](mg_connection *, const std::string &t) {
    sent.count++;
    sent.text = t;
  });
  SvcLogFlush(2000);
  const std::string log = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(ok);
  const std::string reply =
      "{\"ErrorInfo\":\"\",\"FunID\":\"DKQ0001\",\"ResultCode\":0,\"ResultData\":{\"CardNo\":"
      "\"A12345678\",\"CardType\":\"2\"},\"TranData\":{\"Region\":\"440100\"}}\n";
  EXPECT_EQ(sent.count, 1);
  EXPECT_EQ(sent.text, reply);
  EXPECT_EQ(log, "\rHttp received msg: " + body + "\r\n\nFunID:DKQ0001\n\r\n开始读社保卡卡号\r\n" +
                     "\r\n<cmd_qmx>:Http返回数据(GBK): " + reply + ", len = " +
                     std::to_string(reply.size()) + "\n");
}

TEST(HttpRoad, RejectedRequestSendsAnEmptyReply) {
  TesseraFake_Reset();
  Sent sent;
  SvcLogFlush(2000);  // nothing logged before belongs to this capture
  testing::internal::CaptureStdout();
  bool ok = DoHttpHandle("/http/hardware", "{\"FunID\":\"DKQ0001\"}", nullptr,
                         [&](mg_connection *, const std::string &t) {
                           sent.count++;
                           sent.text = t;
                         });
  SvcLogFlush(2000);
  const std::string log = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(ok);
  EXPECT_EQ(sent.count, 1);
  EXPECT_EQ(sent.text, "");
  EXPECT_EQ(log,
            "\rHttp received msg: {\"FunID\":\"DKQ0001\"}\r\n\r\n\t ErrMsg = JSON Region 解析失败！"
            "\r\n<cmd_qmx>:Http返回数据(GBK): , len = 0\n");
  EXPECT_TRUE(TesseraFake_Calls().empty());
}

TEST(Utf8ToGbkConversion, ConvertsChineseAndKeepsAscii) {
  char out[32];
  memset(out, 'x', sizeof out);
  const char in[] = "{\"Region\":\"广州\"}";
  EXPECT_EQ(Utf8ToGbk(in, strlen(in), out, sizeof out), 0);
  EXPECT_EQ(std::string(out), "{\"Region\":\"\xB9\xE3\xD6\xDD\"}");
  EXPECT_TRUE(std::all_of(out + strlen(out), out + sizeof out, [](char c) { return c == 0; }));
}

TEST(Utf8ToGbkConversion, StopsAtInputItCannotConvert) {
  char out[32];
  const char invalid[] = "ab\xFF" "cd";
  EXPECT_EQ(Utf8ToGbk(invalid, strlen(invalid), out, sizeof out), -1);
  EXPECT_EQ(std::string(out), "ab");
  const char emoji[] = "中\xF0\x9F\x98\x80z";  // not in GBK
  EXPECT_EQ(Utf8ToGbk(emoji, strlen(emoji), out, sizeof out), -1);
  EXPECT_EQ(std::string(out), "\xD6\xD0");
  const char cut[] = "中\xE6\x96";  // a character cut short
  EXPECT_EQ(Utf8ToGbk(cut, strlen(cut), out, sizeof out), -1);
  EXPECT_EQ(std::string(out), "\xD6\xD0");
}

TEST(Utf8ToGbkConversion, NeverFillsTheLastByte) {
  char out[4];
  EXPECT_EQ(Utf8ToGbk("abc", 3, out, sizeof out), 0);
  EXPECT_EQ(std::string(out), "abc");
  EXPECT_EQ(Utf8ToGbk("abcd", 4, out, sizeof out), -1);
  EXPECT_EQ(std::string(out), "abc");
  EXPECT_EQ(Utf8ToGbk("a", 1, out, 0), -1);
  EXPECT_EQ(Utf8ToGbk("", 0, out, 1), 0);
  EXPECT_EQ(out[0], '\0');
}

}  // namespace
