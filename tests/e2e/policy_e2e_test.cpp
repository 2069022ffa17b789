// The administrator's policy file applied by the real program on the virtual
// reader: each key's effect over HTTP and WebSocket, reload on change, and
// start-up refused for a policy that cannot be applied.
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "vreader_service.h"

namespace e2e {
namespace {

const Fields kRegion = {{"Region", "440100"}};
const char kUpgrade[] =
    "GET / HTTP/1.1\r\nHost: %s\r\n%sUpgrade: websocket\r\nConnection: Upgrade\r\n"
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
// A documentation address put on this namespace's own loopback device: a
// peer that is not loopback, without any traffic leaving the machine.
const char kOtherAddr[] = "192.0.2.10";

// One exchange with addr:7776: the reply's header block and the body its
// Content-Length announces; "<no connection>" when nothing accepts.
std::string Exchange(const std::string &addr, const std::string &request) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(kPort);
  inet_pton(AF_INET, addr.c_str(), &sa.sin_addr);
  if (connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
    close(fd);
    return "<no connection>";
  }
  send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string in;
  size_t want = std::string::npos;
  pollfd p{fd, POLLIN, 0};
  while (in.size() < want && poll(&p, 1, 5000) == 1) {
    char buf[4096];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    in.append(buf, static_cast<size_t>(n));
    if (want != std::string::npos) continue;
    // Header lines end in CR LF, or in a bare LF in the service's 200 replies.
    size_t end = in.find("\r\n\r\n"), lf = in.find("\n\n");
    // Those replies also send one LF that Content-Length does not count.
    bool extraLf = false;
    if (lf != std::string::npos && (end == std::string::npos || lf < end))
      end = lf + 2, extraLf = true;
    else if (end != std::string::npos)
      end += 4;
    if (end == std::string::npos) continue;
    const size_t cl = in.find("Content-Length: ");
    want = cl < end ? end + strtoul(in.c_str() + cl + 16, nullptr, 10) + extraLf : end;
  }
  close(fd);
  return in;
}

std::string Post(const std::string &host, const std::string &originHeader, const std::string &body) {
  return "POST /http/hardware HTTP/1.1\r\nHost: " + host + "\r\n" + originHeader +
         "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
         body;
}

std::string Upgrade(const std::string &host, const std::string &originHeader) {
  char buf[512];
  snprintf(buf, sizeof buf, kUpgrade, host.c_str(), originHeader.c_str());
  return buf;
}

std::string Forbidden(const std::string &acao, const std::string &replyText) {
  return "HTTP/1.1 403 Forbidden\r\nContent-Type: application/json\r\nCache-Control: no-cache\r\n"
         "Content-Length: " +
         std::to_string(replyText.size()) + "\r\nAccess-Control-Allow-Origin: " + acao +
         "\r\nVary: Origin\r\nConnection: close\r\n\r\n" + replyText;
}

const char kOriginText[] = "Origin not allowed: this page's origin is not in the service's AllowedOrigins";
const char kHostText[] =
    "Host not allowed: the service answers only requests for 127.0.0.1, localhost or [::1]";
const char kRemoteText[] = "Remote hosts not allowed: the service answers only this computer";

class PolicyOnReader : public ServiceOnVreader {
 protected:
  void SetUp() override {
    policyPath_ = dir_.path() + "/hwservice.conf";
    setenv("HWSERVICE_POLICY", policyPath_.c_str(), 1);
    // The package's file as shipped: every key commented out.
    hwtest::WriteFile(policyPath_, hwtest::ReadFile(hwtest::SourceDir() + "/packaging/hwservice.conf"));
    ServiceOnVreader::SetUp();
  }
  void TearDown() override {
    ServiceOnVreader::TearDown();
    unsetenv("HWSERVICE_POLICY");
  }
  // Replaced as an administrator's editor or hwservice-admin would.
  void SetPolicy(const std::string &text) {
    hwtest::WriteFile(policyPath_ + ".new", text);
    ASSERT_EQ(rename((policyPath_ + ".new").c_str(), policyPath_.c_str()), 0);
  }
  std::string CardNoReplyText() {
    const Fields d = {{"CardNo", Card(profile_["slots"]["contact"].asString())["card_no"].asString()},
                      {"CardType", "2"}};
    return Reply("DKQ0001", 0, "", &d, kRegion);
  }
  // The request's refusal: the reply object with ResultCode -403.
  std::string Refusal(const std::string &acao, const char *why, bool withRequest = true) {
    return Forbidden(acao, withRequest ? Reply("DKQ0001", -403, why, nullptr, kRegion)
                                       : "{\"ErrorInfo\":\"" + std::string(why) +
                                             "\",\"FunID\":\"\",\"ResultCode\":-403,\"ResultData\":null}\n");
  }
  // Adds kOtherAddr to this network namespace's loopback device, only in a
  // namespace that has nothing but that device (hw-isolated's): never on a
  // machine's real network.
  bool AddOtherAddress() {
    struct if_nameindex *ifs = if_nameindex();
    if (ifs == nullptr) return false;
    bool onlyLo = true;
    for (struct if_nameindex *i = ifs; i->if_index != 0; i++)
      onlyLo = onlyLo && strcmp(i->if_name, "lo") == 0;
    if_freenameindex(ifs);
    if (!onlyLo) return false;
    const std::string cmd = std::string("ip addr replace ") + kOtherAddr + "/32 dev lo 2>/dev/null";
    return system(cmd.c_str()) == 0;
  }

  hwtest::TempDir dir_;
  std::string policyPath_;
};

TEST_F(PolicyOnReader, AllowedOriginsDecideWhichPagesAreServedOverHttpAndWebSocket) {
  const std::string req = Request("DKQ0001", kRegion);
  // Shipped file, every key commented out: the reply is what it always was.
  EXPECT_EQ(Exchange("127.0.0.1", Post("127.0.0.1:7776", "Origin: https://evil.example\r\n", req)),
            HttpOk(CardNoReplyText()));

  SetPolicy(
      "# pages of the hospital only\nAllowedOrigins = https://his.example.org, https://*.example.net null\n");
  struct {
    const char *origin;  // nullptr: no Origin header
    bool served;
  } cases[] = {
      {"https://his.example.org", true},
      {"https://ward.example.net", true},
      {"null", true},
      {nullptr, true},
      {"https://evil.example", false},
      {"http://his.example.org", false},
      {"https://example.net", false},
  };
  for (const auto &c : cases) {
    const std::string oh = c.origin ? std::string("Origin: ") + c.origin + "\r\n" : "";
    ASSERT_EQ(ctl("clearlog"), "OK");
    const std::string http = Exchange("127.0.0.1", Post("127.0.0.1:7776", oh, req));
    const std::string ws = Exchange("127.0.0.1", Upgrade("127.0.0.1:7776", oh));
    if (c.served) {
      EXPECT_EQ(http, HttpOk(CardNoReplyText())) << oh;
      EXPECT_EQ(ws.compare(0, 34, "HTTP/1.1 101 Switching Protocols\r\n"), 0) << oh << ws;
    } else {
      EXPECT_EQ(http, Refusal(c.origin, kOriginText)) << oh;
      EXPECT_EQ(ws, Refusal(c.origin, kOriginText, false)) << oh;
      EXPECT_TRUE(WireCommands(vr_).empty()) << oh;  // the reader was not touched
    }
  }
  // What a refused peer sends behind its request is never read: a pipelined
  // request, or a frame right after the upgrade.
  ASSERT_EQ(ctl("clearlog"), "OK");
  const std::string refused = Post("127.0.0.1:7776", "Origin: https://evil.example\r\n", req);
  const std::string behind[] = {Post("127.0.0.1:7776", "", req), hwtest::ClientFrame(1, req)};
  const std::string first[] = {refused, Upgrade("127.0.0.1:7776", "Origin: https://evil.example\r\n")};
  for (int i = 0; i < 2; i++) {
    auto c = hwtest::Conn::Open(kPort);
    ASSERT_TRUE(c);
    c->Send(first[i] + behind[i]);
    EXPECT_EQ(c->ReadQuiet(500), Refusal("https://evil.example", kOriginText, i == 0)) << i;
  }
  EXPECT_TRUE(WireCommands(vr_).empty());

  // Preflights: an allowed origin gets what it asks for, another the refusal.
  const std::string preflight =
      "OPTIONS /http/hardware HTTP/1.1\r\nHost: 127.0.0.1:7776\r\nOrigin: "
      "%s\r\nAccess-Control-Request-Method: POST\r\n"
      "Access-Control-Request-Headers: content-type\r\nAccess-Control-Request-Private-Network: true\r\n\r\n";
  char buf[512];
  snprintf(buf, sizeof buf, preflight.c_str(), "https://ward.example.net");
  EXPECT_EQ(Exchange("127.0.0.1", buf),
            "HTTP/1.1 204 No Content\r\nAccess-Control-Allow-Origin: https://ward.example.net\r\n"
            "Access-Control-Allow-Methods: POST\r\nAccess-Control-Allow-Headers: content-type\r\n"
            "Access-Control-Allow-Private-Network: true\r\nAccess-Control-Max-Age: 600\r\nVary: Origin\r\n"
            "Content-Length: 0\r\n\r\n");
  snprintf(buf, sizeof buf, preflight.c_str(), "https://evil.example");
  EXPECT_EQ(Exchange("127.0.0.1", buf), Refusal("https://evil.example", kOriginText, false));

  // Each refused origin is logged once, however often it comes back.
  const std::string out = svc_->Stdout();
  const std::string line =
      std::string("policy: refused origin https://evil.example (from 127.0.0.1): ") + kOriginText + "\n";
  ASSERT_NE(out.find(line), std::string::npos) << out;
  EXPECT_EQ(out.find(line, out.find(line) + 1), std::string::npos) << out;

  // hwservice-admin's edit reaches the running service without a restart.
  hwtest::Process admin(hwtest::BinDir() + "/hwservice-admin", {"allow-origin", "https://evil.example"},
                        {{"HWSERVICE_POLICY", policyPath_}});
  int status = -1;
  ASSERT_TRUE(admin.Wait(10000, &status));
  ASSERT_EQ(status, 0) << admin.Stderr();
  EXPECT_EQ(Exchange("127.0.0.1", Post("127.0.0.1:7776", "Origin: https://evil.example\r\n", req)),
            HttpOk(CardNoReplyText()));
  // A file that goes bad keeps the policy in force.
  SetPolicy("AllowedOrigins = https://his.example.org\nAllowRemoteHosts = perhaps\n");
  EXPECT_EQ(Exchange("127.0.0.1", Post("127.0.0.1:7776", "Origin: https://other.example\r\n", req)),
            Refusal("https://other.example", kOriginText));
  EXPECT_NE(svc_->Stdout().find(policyPath_ + ":2: AllowRemoteHosts must be yes or no, not \"perhaps\"; the "
                                              "previous policy stays in force\n"),
            std::string::npos);
}

TEST_F(PolicyOnReader, RemoteHostsRefusedWhenNotAllowed) {
  if (!AddOtherAddress()) GTEST_SKIP() << "needs a network namespace of its own (run inside hw-isolated)";
  const std::string req = Request("DKQ0001", kRegion);
  const std::string ok = HttpOk(CardNoReplyText());
  EXPECT_EQ(Exchange(kOtherAddr, Post("pc.example:7776", "", req)), ok);  // default: served
  SetPolicy("AllowRemoteHosts = no\n");
  ASSERT_EQ(ctl("clearlog"), "OK");
  EXPECT_EQ(Exchange(kOtherAddr, Post("pc.example:7776", "", req)), Refusal("*", kRemoteText));
  EXPECT_EQ(Exchange(kOtherAddr, Upgrade("pc.example:7776", "")), Refusal("*", kRemoteText, false));
  EXPECT_TRUE(WireCommands(vr_).empty());
  EXPECT_EQ(Exchange("127.0.0.1", Post("127.0.0.1:7776", "", req)), ok);
  EXPECT_NE(svc_->Stdout().find(std::string("policy: refused peer ") + kOtherAddr + " (from " + kOtherAddr +
                                "): " + kRemoteText + "\n"),
            std::string::npos);
}

TEST_F(PolicyOnReader, LoopbackListenServesOnlyRequestsNamingThisComputer) {
  const bool other = AddOtherAddress();
  SetPolicy("Listen = 127.0.0.1\n");
  Quit(*svc_);
  svc_ = Launch();
  ASSERT_TRUE(svc_->WaitForOutput("starting http server at port: 127.0.0.1:7776\n", 20000)) << svc_->Stdout();
  ASSERT_TRUE(hwtest::WaitForPort(kPort, 5000));
  if (other) {
    EXPECT_EQ(Exchange(kOtherAddr, Post(std::string(kOtherAddr) + ":7776", "", Request("DKQ0001", kRegion))),
              "<no connection>");
  }
  const std::string req = Request("DKQ0001", kRegion);
  const std::string ok = HttpOk(CardNoReplyText());
  struct {
    const char *host;
    bool served;
  } cases[] = {
      {"127.0.0.1:7776", true},
      {"localhost:7776", true},
      {"LOCALHOST", true},
      {"[::1]:7776", true},
      {"127.0.0.1", true},
      {"rebound.evil.example:7776", false},
      {"127.0.0.1.evil.example", false},
  };
  for (const auto &c : cases) {
    const std::string http = Exchange("127.0.0.1", Post(c.host, "Origin: https://his.example.org\r\n", req));
    const std::string ws = Exchange("127.0.0.1", Upgrade(c.host, ""));
    if (c.served) {
      EXPECT_EQ(http, ok) << c.host;
      EXPECT_EQ(ws.compare(0, 34, "HTTP/1.1 101 Switching Protocols\r\n"), 0) << c.host << ws;
    } else {
      EXPECT_EQ(http, Refusal("https://his.example.org", kHostText)) << c.host;
      EXPECT_EQ(ws, Refusal("*", kHostText, false)) << c.host;
    }
  }
  // No Host header at all names nothing.
  EXPECT_EQ(Exchange("127.0.0.1", "GET /api/hello HTTP/1.1\r\n\r\n"), Refusal("*", kHostText, false));
}

TEST_F(PolicyOnReader, PolicyThatCannotBeAppliedRefusesStartUp) {
  struct {
    std::string text;  // empty: the path is a folder
    std::string message;
  } cases[] = {
      {"# x\n\nAllowedOrigins = https://his.example.org/app\n",
       ":3: AllowedOrigins: \"https://his.example.org/app\": an origin has no path, query, fragment or user "
       "name"},
      {"Listen = 192.168.1.5\n", ":1: Listen must be 0.0.0.0 or 127.0.0.1, not \"192.168.1.5\""},
      {"AllowRemoteHost = no\n",
       ":1: unknown key \"AllowRemoteHost\" (known: Listen, AllowedOrigins, AllowRemoteHosts)"},
      {"", ": cannot be read: Is a directory"},
  };
  for (const auto &c : cases) {
    const std::string path = dir_.path() + "/bad.conf";
    rmdir(path.c_str());
    if (c.text.empty()) {
      unlink(path.c_str());
      mkdir(path.c_str(), 0755);
    } else {
      hwtest::WriteFile(path, c.text);
    }
    setenv("HWSERVICE_POLICY", path.c_str(), 1);
    auto p = Launch();
    int status = -1;
    ASSERT_TRUE(p->Wait(20000, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_EQ(p->Stderr(), "hwservice: " + path + c.message + "; not started\n");
  }
  setenv("HWSERVICE_POLICY", policyPath_.c_str(), 1);
}

}  // namespace
}  // namespace e2e
