#include "vreader_service.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <thread>

namespace e2e {

const char kReady[] = "starting http server at port: 7776\n";
const char kAlreadyRunning[] = "Qmx硬件服务主程序已启动!";

namespace {

std::string Quoted(const std::string &s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string Object(const Fields &f) {
  std::string out = "{";
  for (const auto &kv : f) {
    if (out.size() > 1) out += ',';
    out += Quoted(kv.first) + ":" + Quoted(kv.second);
  }
  return out + "}";
}

}  // namespace

std::string Request(const std::string &funId, const Fields &tranData) {
  return "{\"FunID\":" + Quoted(funId) + ",\"TranData\":" + Object(tranData) + "}";
}

std::string Reply(const std::string &funId, int code, const std::string &errorInfo, const Fields *data,
                  const Fields &tranData) {
  return "{\"ErrorInfo\":" + Quoted(errorInfo) + ",\"FunID\":" + Quoted(funId) +
         ",\"ResultCode\":" + std::to_string(code) + ",\"ResultData\":" + (data ? Object(*data) : "null") +
         ",\"TranData\":" + Object(tranData) + "}\n";
}

std::string HttpOk(const std::string &replyText) {
  return "HTTP/1.1 200 OK\r\nContent-Type: application/json\nCache-Control: no-cache\nContent-Length: " +
         std::to_string(replyText.size()) +
         "\nAccess-Control-Allow-Origin: *\nAccess-Control-Allow-Headers:Content-Type,XFILENAME,"
         "XFILECATEGORY,XFILESIZE\n\n" +
         replyText + "\n";
}

std::vector<std::string> WireCommands(VreaderProcess &vr) {
  std::vector<std::string> out;
  const std::string line = vr.ctl("log 200");
  Json::Value log;
  Json::CharReaderBuilder b;
  std::string errs;
  std::istringstream in(line.size() > 3 ? line.substr(3) : "");
  if (line.compare(0, 3, "OK ") != 0 || !Json::parseFromStream(b, in, &log, &errs) || !log.isArray()) {
    ADD_FAILURE() << "vreader log: " << line;
    return out;
  }
  for (const Json::Value &e : log) {
    if (e["cmd"].asString().empty()) continue;  // a wait's late answer carries no command
    char nad[8];
    std::snprintf(nad, sizeof nad, "%02X ", e["nad"].asUInt());
    out.push_back(nad + e["cmd"].asString());
  }
  return out;
}

std::string ServiceOnVreader::ProfilePath() const { return hwtest::SourceDir() + "/sim/profiles/demo.json"; }

void ServiceOnVreader::SetUp() {
  // Other programs on this machine may hold the port for a while (another
  // checkout's tests, say): wait for it rather than fail at once.
  bool free = hwtest::PortFree(kPort);
  for (int i = 0; i < 600 && !free; i++) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    free = hwtest::PortFree(kPort);
  }
  ASSERT_TRUE(free) << "port 7776 is in use by another program";
  Json::CharReaderBuilder b;
  std::string errs;
  std::istringstream in(hwtest::ReadFile(ProfilePath()));
  ASSERT_TRUE(Json::parseFromStream(b, in, &profile_, &errs)) << errs;
  ASSERT_TRUE(vr_.start(ProfilePath(), "hid", kTimeScale)) << "vreader did not start";
  mkdir((tmp_.path() + "/run").c_str(), 0700);
  mkdir(ProgramDir().c_str(), 0755);
  std::error_code ec;
  std::filesystem::copy_file(hwtest::BinDir() + "/hwservice", ProgramDir() + "/hwservice", ec);
  ASSERT_FALSE(ec) << "copying hwservice: " << ec.message();
  svc_ = LaunchServing();
}

void ServiceOnVreader::TearDown() {
  if (svc_ && svc_->Running()) Quit(*svc_);
}

std::unique_ptr<hwtest::Process> ServiceOnVreader::Launch() {
  const char *preload = getenv("HW_VREADER_PRELOAD");
  EXPECT_TRUE(preload && *preload) << "HW_VREADER_PRELOAD names the hidapi shim";
  // No display and no platform chosen: the program picks offscreen itself.
  // VREADER_SOCKET (set by the reader fixture) is inherited.
  return std::make_unique<hwtest::Process>(
      ProgramDir() + "/hwservice", std::vector<std::string>{},
      std::map<std::string, std::string>{{"TMPDIR", tmp_.path()},
                                         {"XDG_RUNTIME_DIR", tmp_.path() + "/run"},
                                         {"QT_QPA_PLATFORM", ""},
                                         {"DISPLAY", ""},
                                         {"WAYLAND_DISPLAY", ""},
                                         {"LD_PRELOAD", preload ? preload : ""},
                                         {"HIDLINK_LOG_FILE", tmp_.path() + "/hidlink.log"}},
      tmp_.path());
}

std::unique_ptr<hwtest::Process> ServiceOnVreader::LaunchServing() {
  auto p = Launch();
  EXPECT_TRUE(p->WaitForOutput(kReady, 20000)) << p->Stdout() << p->Stderr();
  EXPECT_TRUE(hwtest::WaitForPort(kPort, 5000));
  return p;
}

void ServiceOnVreader::Quit(hwtest::Process &p) {
  p.Signal(SIGTERM);
  int status = -1;
  ASSERT_TRUE(p.Wait(10000, &status)) << p.Stdout();
  EXPECT_TRUE(WIFEXITED(status)) << status << "\n" << p.Stderr();
  EXPECT_EQ(WEXITSTATUS(status), 0) << p.Stderr();
  EXPECT_TRUE(hwtest::PortFree(kPort));
}

std::string ServiceOnVreader::HttpCall(const std::string &body, int timeout_ms) {
  auto c = hwtest::Conn::Open(kPort);
  if (!c) return "<no connection>";
  c->Send(hwtest::PostRequest("/http/hardware", body));
  std::string r = c->ReadHttpReply(timeout_ms);
  // The LF after the counted body is already on its way: take it too.
  return r.empty() ? r : r + c->ReadN(1, 1000);
}

std::string ServiceOnVreader::WsCall(const std::string &text, int timeout_ms) {
  auto ws = hwtest::WsConn::Open(kPort);
  if (!ws) return "<no websocket>";
  ws->SendText(text);
  hwtest::Frame f;
  if (!ws->ReadDataFrame(f, timeout_ms)) return "<no frame>";
  return f.opcode == 1 ? f.payload : "<opcode " + std::to_string(f.opcode) + ">";
}

}  // namespace e2e
