// The whole program (hwservice_fake: the real main, server and window on
// the scripted client library) as a process on port 7776, headless.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "hw_harness.h"

namespace {

using hwtest::Process;

constexpr int kPort = 7776;
const char kReady[] = "starting http server at port: 7776\n";
const char kAlreadyRunning[] = "Qmx硬件服务主程序已启动!";

int64_t MsSince(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t)
      .count();
}

// One scratch folder per test: the temp folder of the program (so its
// running flag is private to the test), its scripted library and records.
class ServiceProcess : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(hwtest::PortFree(kPort)) << "port 7776 is in use by another program";
    mkdir((tmp_.path() + "/run").c_str(), 0700);
    hwtest::WriteFile(Script(), "{}");
  }
  std::string Script() const { return tmp_.path() + "/script.json"; }
  std::string Calls() const { return tmp_.path() + "/calls"; }
  std::unique_ptr<Process> Start(const std::string &cwd = "") {
    // No display and no platform chosen: the program picks offscreen itself.
    return std::make_unique<Process>(
        hwtest::BinDir() + "/hwservice_fake", std::vector<std::string>{},
        std::map<std::string, std::string>{{"TMPDIR", tmp_.path()},
                                           {"XDG_RUNTIME_DIR", tmp_.path() + "/run"},
                                           {"QT_QPA_PLATFORM", ""},
                                           {"DISPLAY", ""},
                                           {"WAYLAND_DISPLAY", ""},
                                           {"TESSERA_FAKE_SCRIPT", Script()},
                                           {"TESSERA_FAKE_CALLS", Calls()}},
        cwd.empty() ? tmp_.path() : cwd);
  }
  // Starts an instance and waits until it serves.
  std::unique_ptr<Process> StartServing(const std::string &cwd = "") {
    auto p = Start(cwd);
    EXPECT_TRUE(p->WaitForOutput(kReady, 15000)) << p->Stdout() << p->Stderr();
    EXPECT_TRUE(hwtest::WaitForPort(kPort, 5000));
    return p;
  }
  // SIGTERM, as the tray's quit entry: exit status 0 and the port free at once.
  void Quit(Process &p) {
    p.Signal(SIGTERM);
    int status = -1;
    ASSERT_TRUE(p.Wait(5000, &status)) << p.Stdout();
    EXPECT_TRUE(WIFEXITED(status)) << status << "\n" << p.Stderr();
    EXPECT_EQ(WEXITSTATUS(status), 0) << p.Stderr();
    EXPECT_TRUE(hwtest::PortFree(kPort));
  }
  hwtest::TempDir tmp_;
};

const std::string kCardNoRequest = "{\"FunID\":\"DKQ0001\",\"TranData\":{\"Region\":\"440100\"}}";
const std::string kCardNoReply =
    "{\"ErrorInfo\":\"\",\"FunID\":\"DKQ0001\",\"ResultCode\":0,\"ResultData\":{\"CardNo\":"
    "\"A12345678\",\"CardType\":\"2\"},\"TranData\":{\"Region\":\"440100\"}}\n";

TEST_F(ServiceProcess, ServesHttpAndWebSocketAndQuitsCleanly) {
  hwtest::WriteFile(Script(), R"({"QMX_ReadCarNo":{"out":{"cardNo":"A12345678"}},
                                  "QMX_ReadCardCity":{"ret":-1,"err":"读取地区编码失败!"}})");
  auto p = StartServing();

  const std::string r = hwtest::HttpExchange(kPort, hwtest::PostRequest("/http/hardware", kCardNoRequest));
  EXPECT_EQ(r, "HTTP/1.1 200 OK\r\nContent-Type: application/json\nCache-Control: no-cache\n"
               "Content-Length: " + std::to_string(kCardNoReply.size()) +
                   "\nAccess-Control-Allow-Origin: *\nAccess-Control-Allow-Headers:Content-Type,"
                   "XFILENAME,XFILECATEGORY,XFILESIZE\n\n" + kCardNoReply);

  auto ws = hwtest::WsConn::Open(kPort);
  ASSERT_TRUE(ws);
  ws->SendText("HeartBeat");
  hwtest::Frame f;
  ASSERT_TRUE(ws->ReadDataFrame(f));
  EXPECT_EQ(f.payload, "HeartBeat");
  ws->SendText("{\"FunID\":\"DKQ0004\",\"TranData\":{\"Region\":\"深圳\"}}");
  ASSERT_TRUE(ws->ReadDataFrame(f));
  EXPECT_EQ(f.payload,
            "{\"ErrorInfo\":\"读取地区编码失败!\",\"FunID\":\"DKQ0004\",\"ResultCode\":-1,"
            "\"ResultData\":null,\"TranData\":{\"Region\":\"\xC9\xEE\xDB\xDA\"}}\n");

  EXPECT_EQ(hwtest::ReadFile(Calls()),
            "{\"fn\":\"QMX_ReadCarNo\",\"zeroed\":true}\n{\"fn\":\"QMX_ReadCardCity\",\"zeroed\":true}\n");
  const std::string out = p->Stdout();
  EXPECT_NE(out.find("\rHttp received msg: " + kCardNoRequest + "\r\n\nFunID:DKQ0001\n\r\n开始读社保卡卡号\r\n"
                     "\r\n<cmd_qmx>:Http返回数据(GBK): " + kCardNoReply + ", len = " +
                     std::to_string(kCardNoReply.size()) + "\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("\r\n msg:HeartBeat\r\n"), std::string::npos);
  EXPECT_NE(out.find("\r\n开始读社保卡地区编号接口\r\n============-1\r\n\r\n\t ErrMsg = 读取地区编码失败!\r\n"
                     "\r\nWebsocket返回数据(GBK): "),
            std::string::npos)
      << out;

  Quit(*p);
  // The running flag went with the process: a new instance starts at once.
  auto again = StartServing();
  EXPECT_EQ(again->Stdout().find(kAlreadyRunning), std::string::npos);
  Quit(*again);
}

TEST_F(ServiceProcess, SecondInstanceExitsWithZeroAndStartsNoServer) {
  auto first = StartServing();
  auto second = Start();
  int status = -1;
  ASSERT_TRUE(second->Wait(15000, &status));
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(second->Stdout(), std::string(kAlreadyRunning) + "\n");
  // The first one is unaffected.
  EXPECT_EQ(hwtest::HttpBody(hwtest::HttpExchange(kPort, "GET /api/hello HTTP/1.1\r\n\r\n")),
            "welcome to httpserver");
  EXPECT_TRUE(first->Running());
  Quit(*first);
}

TEST_F(ServiceProcess, InstanceAfterAKilledOneStarts) {
  auto first = StartServing();
  first->Signal(SIGKILL);
  ASSERT_TRUE(first->Wait(5000, nullptr));
  EXPECT_TRUE(hwtest::PortFree(kPort));
  // Its running flag is left behind; the new instance must not take it for a
  // live one.
  auto second = StartServing();
  EXPECT_EQ(second->Stdout().find(kAlreadyRunning), std::string::npos);
  EXPECT_EQ(hwtest::HttpBody(hwtest::HttpExchange(kPort, "GET /api/hello HTTP/1.1\r\n\r\n")),
            "welcome to httpserver");
  Quit(*second);
}

TEST_F(ServiceProcess, TakenPortLogsConnectionEmptyAndTheProgramStaysUp) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  int one = 1;  // earlier tests may leave connections in TIME_WAIT
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(kPort);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
  ASSERT_EQ(listen(fd, 4), 0);
  auto p = Start();
  EXPECT_TRUE(p->WaitForOutput("连接为空", 15000)) << p->Stdout() << p->Stderr();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_TRUE(p->Running());
  EXPECT_EQ(p->Stdout().find(kReady), std::string::npos);
  close(fd);
  Quit(*p);
}

TEST_F(ServiceProcess, QuitDuringALongCardOperationEndsAtOnce) {
  hwtest::WriteFile(Script(), R"({"QMX_ReadCarNo":{"sleep_ms":20000}})");
  auto p = StartServing();
  auto c = hwtest::Conn::Open(kPort);
  ASSERT_TRUE(c);
  c->Send(hwtest::PostRequest("/http/hardware", kCardNoRequest));
  ASSERT_TRUE(p->WaitForOutput("开始读社保卡卡号", 5000));
  const auto t = std::chrono::steady_clock::now();
  Quit(*p);
  EXPECT_LT(MsSince(t), 3000);
}

TEST_F(ServiceProcess, RootServesTheWorkingDirectoryWebFolderFirst) {
  hwtest::TempDir cwd;
  mkdir((cwd.path() + "/web").c_str(), 0755);
  hwtest::WriteFile(cwd.path() + "/web/index.html", "<p>local page</p>\n");
  auto p = StartServing(cwd.path());
  EXPECT_EQ(hwtest::HttpBody(hwtest::HttpExchange(kPort, "GET / HTTP/1.1\r\n\r\n")), "<p>local page</p>\n");
  Quit(*p);
  // Started elsewhere, the pages beside the program are served.
  p = StartServing();
  EXPECT_EQ(hwtest::HttpBody(hwtest::HttpExchange(kPort, "GET / HTTP/1.1\r\n\r\n")),
            hwtest::ReadFile(hwtest::SourceDir() + "/web/index.html"));
  Quit(*p);
}

TEST(ShippedPages, TestPageLiesBesideTheProgram) {
  const std::string page = hwtest::ReadFile(hwtest::BinDir() + "/测试网页及脚本/GPY/index.html");
  EXPECT_EQ(page, hwtest::ReadFile(hwtest::SourceDir() + "/service/testpage/GPY/index.html"));
  for (const char *funId : {"DKQ0001", "DKQ0002", "DKQ0003", "DKQ0004", "DKQ0005", "DKQ0007",
                            "DKQ0010", "DKQ0011", "DKQ0012"})
    EXPECT_NE(page.find(funId), std::string::npos) << funId;
}

}  // namespace
