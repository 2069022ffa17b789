// HttpServer over loopback sockets on an ephemeral port: routing, the exact
// replies, WebSocket messages and their conversion, start and stop.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "dispatcher.h"
#include "http_server.h"
#include "svc_log.h"
#include "hw_harness.h"
#include "tessera_fake.h"

namespace {

using hwtest::Conn;
using hwtest::Frame;
using hwtest::WsConn;

const char k501[] = "HTTP/1.1 501 Not Implemented\r\nContent-Length: 0\r\n\r\n";

std::string Reply200(const std::string &text) {
  return "HTTP/1.1 200 OK\r\nContent-Type: application/json\nCache-Control: no-cache\nContent-Length: " +
         std::to_string(text.size()) +
         "\nAccess-Control-Allow-Origin: *\nAccess-Control-Allow-Headers:Content-Type,XFILENAME,"
         "XFILECATEGORY,XFILESIZE\n\n" +
         text + "\n";
}

const std::string kCityReply =
    "{\"ErrorInfo\":\"\",\"FunID\":\"DKQ0004\",\"ResultCode\":0,\"ResultData\":{\"City\":"
    "\"440300\"},\"TranData\":{\"Region\":\"440100\"}}\n";
const std::string kCityRequest = "{\"FunID\":\"DKQ0004\",\"TranData\":{\"Region\":\"440100\"}}";
const char kCityScript[] = R"({"QMX_ReadCardCity":{"out":{"region":"440300"}}})";

// A server on 127.0.0.1 with the service's route, polled by its own thread.
class Served {
 public:
  Served() {
    server_.Init("127.0.0.1:0");
    server_.AddHandler("/http/hardware", DoHttpHandle);
    thread_ = std::thread([this] { started_ = server_.Start(); });
    for (int i = 0; i < 500 && server_.BoundPort() == 0; i++)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    port_ = server_.BoundPort();
  }
  ~Served() {
    server_.Stop();
    thread_.join();
    server_.Close();
    server_.RemoveHandler("/http/hardware");
  }
  int port() const { return port_; }
  HttpServer &server() { return server_; }
  void StopAndJoin() {
    server_.Stop();
    thread_.join();
    thread_ = std::thread([] {});
  }
  bool started() const { return started_; }

 private:
  HttpServer server_;
  std::thread thread_;
  bool started_ = false;
  int port_ = 0;
};

class ServerTest : public testing::Test {
 protected:
  void SetUp() override {
    TesseraFake_SetScript(kCityScript);
    ASSERT_NE(served_.port(), 0);
  }
  std::string Exchange(const std::string &request) {
    auto c = Conn::Open(served_.port());
    EXPECT_TRUE(c != nullptr);
    if (!c) return "";
    c->Send(request);
    return c->ReadQuiet(200);
  }
  Served served_;
};

TEST_F(ServerTest, PostToTheRouteGetsOneExact200Reply) {
  EXPECT_EQ(Exchange(hwtest::PostRequest("/http/hardware", kCityRequest)), Reply200(kCityReply));
  EXPECT_EQ(TesseraFake_Calls().size(), 1u);
}

TEST_F(ServerTest, RouteIgnoresMethodAndQueryString) {
  const std::string body = kCityRequest;
  EXPECT_EQ(Exchange("PUT /http/hardware?x=1&y=2 HTTP/1.1\r\nContent-Length: " +
                     std::to_string(body.size()) + "\r\n\r\n" + body),
            Reply200(kCityReply));
  // A GET has no body: the dispatcher turns it away, the reply is empty.
  EXPECT_EQ(Exchange("GET /http/hardware?FunID=DKQ0004 HTTP/1.1\r\n\r\n"), Reply200(""));
}

TEST_F(ServerTest, RejectedRequestGetsA200WithEmptyBody) {
  EXPECT_EQ(Exchange(hwtest::PostRequest("/http/hardware", "{\"FunID\":\"DKQ0004\"}")),
            "HTTP/1.1 200 OK\r\nContent-Type: application/json\nCache-Control: no-cache\n"
            "Content-Length: 0\nAccess-Control-Allow-Origin: *\nAccess-Control-Allow-Headers:"
            "Content-Type,XFILENAME,XFILECATEGORY,XFILESIZE\n\n\n");
  EXPECT_TRUE(TesseraFake_Calls().empty());
}

TEST_F(ServerTest, HelloAnswersWelcome) {
  const std::string r = Exchange("GET /api/hello HTTP/1.1\r\n\r\n");
  EXPECT_EQ(r, Reply200("welcome to httpserver"));
  EXPECT_NE(r.find("\nContent-Length: 21\n"), std::string::npos);
  EXPECT_EQ(Exchange(hwtest::PostRequest("/api/hello", "x")), Reply200("welcome to httpserver"));
}

TEST_F(ServerTest, OtherPathsGetExactly501) {
  for (const char *path : {"/other", "/HTTP/HARDWARE", "/http/hardware/", "/api/hello/", "/index.html",
                           "//", "/http/Hardware"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(Exchange(std::string("GET ") + path + " HTTP/1.1\r\n\r\n"), k501);
  }
  EXPECT_TRUE(TesseraFake_Calls().empty());
}

TEST_F(ServerTest, ConnectionStaysOpenForPipelinedRequests) {
  auto c = Conn::Open(served_.port());
  ASSERT_TRUE(c);
  c->Send(hwtest::PostRequest("/http/hardware", kCityRequest) + "GET /nope HTTP/1.1\r\n\r\n" +
          "GET /api/hello HTTP/1.1\r\n\r\n");
  EXPECT_EQ(c->ReadQuiet(300), Reply200(kCityReply) + k501 + Reply200("welcome to httpserver"));
  c->Send(hwtest::PostRequest("/http/hardware", kCityRequest));
  EXPECT_EQ(c->ReadQuiet(300), Reply200(kCityReply));
}

TEST_F(ServerTest, ChineseRegionComesBackAsSentOverHttp) {
  const std::string body = "{\"FunID\":\"DKQ0004\",\"TranData\":{\"Region\":\"广州\"}}";
  const std::string r = Exchange(hwtest::PostRequest("/http/hardware", body));
  EXPECT_NE(r.find("\"TranData\":{\"Region\":\"广州\"}}\n\n"), std::string::npos) << r;
}

TEST_F(ServerTest, RootServesTheIndexPageBesideTheProgram) {
  // The tests run in a folder without web/, so the pages beside the binaries
  // (<build>/bin/web) are served.
  const std::string page = hwtest::ReadFile(hwtest::SourceDir() + "/web/index.html");
  ASSERT_FALSE(page.empty());
  auto c = Conn::Open(served_.port());
  ASSERT_TRUE(c);
  c->Send("GET / HTTP/1.1\r\n\r\n");
  const std::string r = c->ReadHttpReply();
  EXPECT_EQ(r.compare(0, 17, "HTTP/1.1 200 OK\r\n"), 0) << r;
  EXPECT_NE(r.find("\r\nAccess-Control-Allow-Origin: *\r\n"), std::string::npos);
  EXPECT_NE(r.find("\r\nContent-Type: text/html"), std::string::npos);
  EXPECT_EQ(hwtest::HttpBody(r), page);
}

TEST_F(ServerTest, SdkFolderServesTheJavaScriptLibraryAndNothingOutsideWeb) {
  // The build copies sdk/js into <build>/bin/web/sdk.
  struct Case {
    const char *path;
    const char *status;
    const char *source;  // file whose bytes make the body, or null
  };
  for (const Case &k : {Case{"/sdk/hwservice.js", "HTTP/1.1 200 OK\r\n", "/sdk/js/hwservice.js"},
                        Case{"/sdk/hwservice.global.js?v=1", "HTTP/1.1 200 OK\r\n", "/sdk/js/hwservice.global.js"},
                        Case{"/sdk/../index.html", "HTTP/1.1 403 Forbidden\r\n", nullptr},
                        Case{"/sdk/%2e%2e/index.html", "HTTP/1.1 403 Forbidden\r\n", nullptr},
                        Case{"/sdk/none.js", "HTTP/1.1 404 Not Found\r\n", nullptr}}) {
    SCOPED_TRACE(k.path);
    auto c = Conn::Open(served_.port());
    ASSERT_TRUE(c);
    c->Send(std::string("GET ") + k.path + " HTTP/1.1\r\n\r\n");
    const std::string r = c->ReadHttpReply();
    EXPECT_EQ(r.rfind(k.status, 0), 0u) << r;
    // A page of any origin may import the module.
    EXPECT_NE(r.find("\r\nAccess-Control-Allow-Origin: *\r\n"), std::string::npos);
    if (k.source != nullptr) {
      EXPECT_NE(r.find("\r\nContent-Type: application/javascript\r\n"), std::string::npos);
      EXPECT_EQ(hwtest::HttpBody(r), hwtest::ReadFile(hwtest::SourceDir() + k.source));
    }
  }
  EXPECT_EQ(Exchange("GET /sdk HTTP/1.1\r\n\r\n"), k501);
}

TEST_F(ServerTest, WebSocketHeartBeatIsEchoed) {
  auto ws = WsConn::Open(served_.port());
  ASSERT_TRUE(ws);
  ws->SendText("HeartBeat");
  Frame f;
  ASSERT_TRUE(ws->ReadDataFrame(f));
  EXPECT_EQ(f.opcode, 1);
  EXPECT_TRUE(f.fin);
  EXPECT_EQ(f.payload, "HeartBeat");
}

TEST_F(ServerTest, WebSocketRequestGetsTheReplyTextInOneFrame) {
  auto ws = WsConn::Open(served_.port(), "/any/path");
  ASSERT_TRUE(ws);
  ws->SendText(kCityRequest);
  Frame f;
  ASSERT_TRUE(ws->ReadDataFrame(f));
  EXPECT_EQ(f.opcode, 1);
  EXPECT_EQ(f.payload, kCityReply);
  // A binary message is handled the same way.
  ws->SendFrame(2, kCityRequest);
  ASSERT_TRUE(ws->ReadDataFrame(f));
  EXPECT_EQ(f.opcode, 1);
  EXPECT_EQ(f.payload, kCityReply);
}

TEST_F(ServerTest, WebSocketFragmentedRequestIsOneRequest) {
  auto ws = WsConn::Open(served_.port());
  ASSERT_TRUE(ws);
  const std::string r = kCityRequest;
  ws->SendFrame(1, r.substr(0, 10), false);
  ws->SendFrame(0, r.substr(10, 20), false);
  ws->SendFrame(0, r.substr(30), true);
  Frame f;
  ASSERT_TRUE(ws->ReadDataFrame(f));
  EXPECT_EQ(f.payload, kCityReply);
  EXPECT_EQ(TesseraFake_Calls().size(), 1u);
}

TEST_F(ServerTest, WebSocketRejectedRequestsGetNothing) {
  auto ws = WsConn::Open(served_.port());
  ASSERT_TRUE(ws);
  for (const std::string &m : {std::string("HeartBeat "), std::string("heartbeat"), std::string(""),
                               std::string("{\"FunID\":\"DKQ0004\"}"),
                               // An emoji has no GBK form: the conversion stops short.
                               std::string("{\"FunID\":\"DKQ0004\",\"x\":\"\xF0\x9F\x98\x80\",\"TranData\":"
                                           "{\"Region\":\"1\"}}")})
    ws->SendText(m);
  // Then a good request: its reply is the first frame that arrives.
  ws->SendText(kCityRequest);
  Frame f;
  ASSERT_TRUE(ws->ReadDataFrame(f));
  EXPECT_EQ(f.payload, kCityReply);
  EXPECT_EQ(TesseraFake_Calls().size(), 1u);
}

TEST_F(ServerTest, WebSocketRequestIsConvertedToGbk) {
  auto ws = WsConn::Open(served_.port());
  ASSERT_TRUE(ws);
  TesseraFake_SetScript(R"({"QMX_IDCard_Read":{"out":{"name":"张三","address":"广州"}}})");
  ws->SendText("{\"FunID\":\"DKQ0005\",\"TranData\":{\"Region\":\"广州\"},\"备注\":\"测试\"}");
  Frame f;
  ASSERT_TRUE(ws->ReadDataFrame(f));
  // Request texts come back in GBK; the library's UTF-8 texts stay UTF-8.
  EXPECT_EQ(f.payload,
            "{\"ErrorInfo\":\"\",\"FunID\":\"DKQ0005\",\"ResultCode\":0,\"ResultData\":{"
            "\"Activity\":\"\",\"Address\":\"广州\",\"Born\":\"\",\"CardNo\":\"\",\"Name\":"
            "\"张三\",\"Police\":\"\"},\"TranData\":{\"Region\":\"\xB9\xE3\xD6\xDD\"},"
            "\"\xB1\xB8\xD7\xA2\":\"\xB2\xE2\xCA\xD4\"}\n");
}

TEST_F(ServerTest, WebSocketUnimplementedFunIDIsAnswered) {
  auto ws = WsConn::Open(served_.port());
  ASSERT_TRUE(ws);
  ws->SendText("{\"FunID\":\"DKQ0006\",\"TranData\":{\"Region\":\"1\"}}");
  Frame f;
  ASSERT_TRUE(ws->ReadDataFrame(f));
  EXPECT_EQ(f.payload,
            "{\"ErrorInfo\":\"该功能点暂未开发!\",\"FunID\":\"DKQ0006\",\"ResultCode\":-1,"
            "\"ResultData\":null,\"TranData\":{\"Region\":\"1\"}}\n");
}

TEST_F(ServerTest, WebSocketReplyOfExactly126BytesUsesTheLongLengthForm) {
  // Reply = fixed members + City; pick City so the reply text is 126 bytes.
  const std::string fixed =
      "{\"ErrorInfo\":\"\",\"FunID\":\"DKQ0004\",\"ResultCode\":0,\"ResultData\":{\"City\":\"\"},"
      "\"TranData\":{\"Region\":\"440100\"}}\n";
  const std::string city(126 - fixed.size(), 'c');
  TesseraFake_SetScript("{\"QMX_ReadCardCity\":{\"out\":{\"region\":\"" + city + "\"}}}");
  auto ws = WsConn::Open(served_.port());
  ASSERT_TRUE(ws);
  ws->SendText(kCityRequest);
  const std::string raw = ws->ReadN(4 + 126);
  ASSERT_EQ(raw.size(), 130u);
  EXPECT_EQ(raw.substr(0, 4), std::string("\x81\x7E\x00\x7E", 4));
  const size_t at = fixed.find("\"City\":\"") + 8;
  EXPECT_EQ(raw.substr(4), fixed.substr(0, at) + city + fixed.substr(at));
}

TEST_F(ServerTest, HandlerRegisteredTwiceKeepsTheFirstAndRemovalGives501) {
  int second = 0;
  served_.server().AddHandler("/http/hardware",
                              [&](const std::string &, const std::string &, mg_connection *, ReplySender) {
                                second++;
                                return true;
                              });
  EXPECT_EQ(Exchange(hwtest::PostRequest("/http/hardware", kCityRequest)), Reply200(kCityReply));
  EXPECT_EQ(second, 0);
  served_.server().RemoveHandler("/http/hardware");
  EXPECT_EQ(Exchange(hwtest::PostRequest("/http/hardware", kCityRequest)), k501);
}

TEST_F(ServerTest, StopEndsStartAndClosesTheListener) {
  const int port = served_.port();
  served_.StopAndJoin();
  EXPECT_TRUE(served_.started());
  EXPECT_EQ(served_.server().BoundPort(), 0);
  served_.server().Close();
  EXPECT_FALSE(Conn::Open(port, 0));
}

TEST(ServerStart, PortInUseLogsConnectionEmptyAndReturnsFalse) {
  Served first;
  ASSERT_NE(first.port(), 0);
  HttpServer second;
  second.Init("127.0.0.1:" + std::to_string(first.port()));
  SvcLogFlush(2000);  // the first server's start line is not ours
  testing::internal::CaptureStdout();
  const bool ok = second.Start();
  SvcLogFlush(2000);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "连接为空");
  EXPECT_FALSE(ok);
  EXPECT_TRUE(second.Close());
}

TEST(ServerStart, WorkingDirectoryWebFolderComesFirst) {
  hwtest::TempDir dir;
  ASSERT_EQ(mkdir((dir.path() + "/web").c_str(), 0755), 0);
  hwtest::WriteFile(dir.path() + "/web/card-notes.txt", "x");
  char old[4096];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  {
    Served s;  // Init picks the root while the working directory is dir
    ASSERT_EQ(chdir(old), 0);
    // No index file there: a listing of the folder.
    const std::string r = hwtest::HttpExchange(s.port(), "GET / HTTP/1.1\r\n\r\n");
    EXPECT_EQ(r.compare(0, 17, "HTTP/1.1 200 OK\r\n"), 0) << r;
    EXPECT_NE(hwtest::HttpBody(r).find("card-notes.txt"), std::string::npos) << r;
  }
}

}  // namespace
