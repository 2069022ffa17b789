// The bad-input table of service/BAD-INPUT.md, row by row, against the real
// service on the virtual reader: each row's exact answer (status line and
// body, WebSocket frame or close code, or nothing), whether the connection
// stays open, and a card read answered right after it. Row ids are the
// table's.
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "client_pool.h"
#include "vreader_service.h"

namespace load {
namespace {

using e2e::Fields;
using e2e::kPort;
using e2e::HttpOk;
using e2e::Reply;
using e2e::Request;

const Fields kRegion = {{"Region", "440100"}};
const char kIndex[] = "<!doctype html><title>hwservice</title>\n";

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A blocking loopback client that tells a close from a quiet line.
class Raw {
 public:
  explicit Raw(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~Raw() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  // Sends what the peer takes; a peer that closes early stops it (false).
  bool Send(const std::string &b) {
    for (size_t off = 0; off < b.size();) {
      ssize_t n = send(fd_, b.data() + off, b.size() - off, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      off += static_cast<size_t>(n);
    }
    return true;
  }
  // Exactly n bytes, or fewer on close or time-out.
  std::string Read(size_t n, int timeout_ms = 5000) {
    std::string out;
    const int64_t end = NowMs() + timeout_ms;
    while (out.size() < n && Wait(end)) {
      char buf[65536];
      ssize_t r = recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
      if (r <= 0) {
        closed_ = true;
        break;
      }
      out.append(buf, static_cast<size_t>(r));
    }
    return out;
  }
  // Everything until the peer closes (a reset counts); "<open>" appended
  // when it is still open after timeout_ms.
  std::string ReadToClose(int timeout_ms = 5000) {
    std::string out;
    const int64_t end = NowMs() + timeout_ms;
    for (;;) {
      if (!Wait(end)) return out + "<open>";
      char buf[65536];
      ssize_t r = recv(fd_, buf, sizeof buf, 0);
      if (r <= 0) return out;
      out.append(buf, static_cast<size_t>(r));
    }
  }
  bool closed() const { return closed_; }

 private:
  bool Wait(int64_t end) {
    pollfd p{fd_, POLLIN, 0};
    int64_t left = end - NowMs();
    return left > 0 && poll(&p, 1, static_cast<int>(left)) > 0;
  }
  int fd_ = -1;
  bool closed_ = false;
};

struct Row {
  const char *id;
  std::string send;   // bytes after the connection (and upgrade) is made
  std::string reply;  // the exact answer; "" for none
  bool closes;        // the service ends the connection after it
};

class BadInput : public e2e::ServiceOnVreader {
 protected:
  void SetUp() override {
    // A page to serve on "/" and, beside its folder, a file that must stay
    // out of reach.
    mkdir((tmp_.path() + "/web").c_str(), 0755);
    hwtest::WriteFile(tmp_.path() + "/web/index.html", kIndex);
    hwtest::WriteFile(tmp_.path() + "/web/other.html", "other\n");
    hwtest::WriteFile(tmp_.path() + "/secret.txt", "secret\n");
    ServiceOnVreader::SetUp();
  }

  std::string CardRequest() { return Request("DKQ0001", kRegion); }
  std::string CardReply() {
    const Fields d = {{"CardNo", Card(profile_["slots"]["contact"].asString())["card_no"].asString()},
                      {"CardType", "2"}};
    return Reply("DKQ0001", 0, "", &d, kRegion);
  }
  std::string Post(const std::string &body) { return hwtest::PostRequest("/http/hardware", body); }

  // The row on a fresh HTTP connection; then a card read on the same
  // connection when it stays open, else on a new one.
  void HttpRow(const Row &r) {
    SCOPED_TRACE(r.id);
    Raw c(kPort);
    ASSERT_TRUE(c.ok());
    c.Send(r.send);
    if (r.closes) {
      EXPECT_EQ(c.ReadToClose(), r.reply);
      EXPECT_EQ(HttpCall(CardRequest()), HttpOk(CardReply()));
      return;
    }
    EXPECT_EQ(c.Read(r.reply.size()), r.reply);
    // Nothing more came for the row: the next bytes are the card's reply.
    ASSERT_TRUE(c.Send(Post(CardRequest())));
    EXPECT_EQ(c.Read(HttpOk(CardReply()).size()), HttpOk(CardReply()));
  }

  // The row on a fresh WebSocket; then a card read on it when it stays open.
  void WsRow(const Row &r) {
    SCOPED_TRACE(r.id);
    Raw c(kPort);
    ASSERT_TRUE(c.ok());
    ASSERT_TRUE(c.Send(UpgradeRequest()));
    ASSERT_EQ(c.Read(UpgradeReply().size()), UpgradeReply());
    c.Send(r.send);
    if (r.closes) {
      EXPECT_EQ(c.ReadToClose(), r.reply);
      EXPECT_EQ(WsCall(CardRequest()), CardReply());
      return;
    }
    ASSERT_TRUE(c.Send(ClientFrame(1, CardRequest())));
    const std::string want = r.reply + ServerFrame(1, CardReply());
    EXPECT_EQ(c.Read(want.size()), want);
  }
};

const std::string kTran = "\"TranData\":{\"Region\":\"440100\"}";
const std::string kEmpty = HttpOk("");
const std::string kClose400 = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
const std::string kClose413 = "HTTP/1.1 413 Payload Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
const std::string k501 = "HTTP/1.1 501 Not Implemented\r\nContent-Length: 0\r\n\r\n";

std::string Nested(size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

TEST_F(BadInput, MalformedJsonOverHttpGetsAnEmpty200) {
  const Row rows[] = {
      {"J1", Post("abc"), kEmpty, false},
      {"J2", Post(""), kEmpty, false},
      {"J3", Post("[{\"FunID\":\"DKQ0001\"," + kTran + "}]"), kEmpty, false},
      {"J4", Post("{\"FunID\":\"DKQ0001\"," + kTran + "} x"), HttpOk(CardReply()), false},
      {"J5", Post("{\"FunID\":\"DKQ0001\",/*c*/" + kTran + "}"), kEmpty, false},
      {"J6", Post("{\"FunID\":\"DKQ0002\",\"FunID\":\"DKQ0001\"," + kTran + "}"), HttpOk(CardReply()), false},
      {"J7", Post("{\"FunID\":\"DKQ0001\"," + kTran), kEmpty, false},
      {"J8", Post(std::string(200000, '[')), kEmpty, false},
      {"J9", Post("{\"FunID\":\"DKQ0001\"," + kTran + ",\"x\":" + Nested(2000) + "}"), kEmpty, false},
      {"J10", Post(std::string("{\"FunID\":\"DKQ0001\",\0", 20) + kTran + "}"), kEmpty, false},
  };
  for (const Row &r : rows) HttpRow(r);
}

TEST_F(BadInput, WrongTypesAndOversizedMembers) {
  const std::string big(600 * 1024, 'b');
  // An extra member is echoed whatever its size; it sorts before ErrorInfo.
  Fields d = {{"CardNo", Card(profile_["slots"]["contact"].asString())["card_no"].asString()}, {"CardType", "2"}};
  const std::string bigOk = "{\"Big\":\"" + big + "\"," + Reply("DKQ0001", 0, "", &d, kRegion).substr(1);
  const Row rows[] = {
      {"T1", Post("{\"FunID\":1," + kTran + "}"), kEmpty, false},
      {"T2", Post("{\"FunID\":[\"DKQ0001\"]," + kTran + "}"), kEmpty, false},
      {"T3", Post("{\"FunID\":\"DKQ0001\",\"TranData\":[]}"), kEmpty, false},
      {"T4", Post("{\"FunID\":\"DKQ0001\",\"TranData\":{\"Region\":440100}}"), kEmpty, false},
      {"T5", Post("{\"FunID\":\"DKQ0011\",\"TranData\":{\"Region\":\"440100\",\"Timeout\":30}}"), kEmpty, false},
      {"T6", Post("{\"FunID\":null," + kTran + "}"), kEmpty, false},
      {"S1", Post(Request("DKQ000001", kRegion)), HttpOk(Reply("DKQ000001", -1, "该功能点暂未开发!", nullptr, kRegion)),
       false},
      {"S2", Post(Request("DKQ0000001", kRegion)), kEmpty, false},
      {"S3", Post(Request("DKQ0001", {{"Region", std::string(99, '4')}})),
       HttpOk(Reply("DKQ0001", 0, "", &d, {{"Region", std::string(99, '4')}})), false},
      {"S4", Post(Request("DKQ0001", {{"Region", std::string(100, '4')}})), kEmpty, false},
      {"S5", Post("{\"Big\":\"" + big + "\",\"FunID\":\"DKQ0001\"," + kTran + "}"), HttpOk(bigOk), false},
      {"S6", "POST /http/hardware HTTP/1.1\r\nContent-Length: 1048577\r\n\r\n", kClose413, true},
      {"S7", "POST /http/hardware HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n100001\r\n", kClose413, true},
  };
  for (const Row &r : rows) HttpRow(r);
}

TEST_F(BadInput, HeaderFloodsAndBrokenFraming) {
  std::string many = "POST /http/hardware HTTP/1.1\r\nContent-Length: " + std::to_string(CardRequest().size()) + "\r\n";
  for (int i = 0; i < 100; i++) many += "X-Filler-" + std::to_string(i) + ": y\r\n";
  many += "\r\n" + CardRequest();
  std::string flood = "GET /api/hello HTTP/1.1\r\n";
  for (int i = 0; i < 5000; i++) flood += "X-" + std::to_string(i) + ": y\r\n";
  const Row rows[] = {
      {"F1", many, HttpOk(CardReply()), false},
      {"F2", "GET /api/hello HTTP/1.1\r\nX-Long: " + std::string(9000, 'a') + "\r\n\r\n", "", true},
      {"F3", flood + "\r\n", "", true},
      {"F4", "GET /api/hello HTTP/1.1\r\nX-Tab:\ty\r\n\r\n", "", true},
      {"F5", "GET /api/hello HTTP/1.1\r\nX-Nul: a" + std::string(1, '\0') + "b\r\n\r\n", "", true},
      {"F6", "POST\r\n\r\n", kClose400, true},
      {"F7", "POST /http/hardware HTTP/1.1\r\nContent-Length: 12x\r\n\r\n", kClose400, true},
      {"F8", "POST /http/hardware HTTP/1.1\r\nContent-Length: -1\r\n\r\n", kClose400, true},
      {"F9", "POST /http/hardware HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", kClose400, true},
      {"F10", std::string(20000, '\n') + "GET /api/hello HTTP/1.1\r\n\r\n", HttpOk("welcome to httpserver"), false},
  };
  for (const Row &r : rows) HttpRow(r);
}

TEST_F(BadInput, PathsOtherThanTheRootNeverReachTheFiles) {
  const std::string page = hwtest::ReadFile(tmp_.path() + "/web/index.html");
  ASSERT_EQ(page, kIndex);
  auto get = [](const std::string &target) { return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"; };
  const Row rows[] = {
      {"P1", get("/../secret.txt"), k501, false},
      {"P2", get("/%2e%2e/secret.txt"), k501, false},
      {"P3", get("/web/../../secret.txt"), k501, false},
      {"P4", get("/..%2fsecret.txt"), k501, false},
      {"P5", get("//secret.txt"), k501, false},
      {"P6", get("/other.html"), k501, false},
      {"P7", get("http://127.0.0.1:7776/../secret.txt"), k501, false},
      {"P8", get("../secret.txt"), k501, false},
  };
  for (const Row &r : rows) HttpRow(r);

  // P9: "/" with a query that looks like a path is the page itself.
  Raw c(kPort);
  ASSERT_TRUE(c.Send(get("/?../secret.txt")));
  const std::string reply = c.ReadToClose(1000);
  EXPECT_EQ(reply.compare(0, 17, "HTTP/1.1 200 OK\r\n"), 0) << reply;
  EXPECT_EQ(hwtest::HttpBody(reply.substr(0, reply.size() - 6)), kIndex) << reply;
  EXPECT_EQ(reply.substr(reply.size() - 6), "<open>");
  // P10: the page turned into a link out of its folder is not followed:
  // "/" falls back to the folder's listing, and the file's content never
  // leaves.
  ASSERT_EQ(unlink((tmp_.path() + "/web/index.html").c_str()), 0);
  ASSERT_EQ(symlink((tmp_.path() + "/secret.txt").c_str(), (tmp_.path() + "/web/index.html").c_str()), 0);
  Raw l(kPort);
  ASSERT_TRUE(l.Send(get("/")));
  const std::string listing = l.ReadToClose(1000);
  EXPECT_EQ(listing.compare(0, 17, "HTTP/1.1 200 OK\r\n"), 0) << listing;
  EXPECT_NE(listing.find("<h1>Index of /</h1>"), std::string::npos) << listing;
  EXPECT_EQ(listing.find("secret"), std::string::npos) << listing;
  EXPECT_EQ(HttpCall(CardRequest()), HttpOk(CardReply()));
}

TEST_F(BadInput, WebSocketMessagesThatAreNotRequests) {
  const std::string good = CardRequest();
  const Row rows[] = {
      {"W1", ClientFrame(1, "abc"), "", false},
      {"W2", ClientFrame(1, "{\"FunID\":1," + kTran + "}"), "", false},
      {"W3", ClientFrame(1, std::string(100000, '[')), "", false},
      {"W4", ClientFrame(2, good), ServerFrame(1, CardReply()), false},
      {"W5", ClientFrame(2, std::string("HeartBeat\0tail", 14)), ServerFrame(1, "HeartBeat"), false},
      {"W6", ClientFrame(2, std::string("\x00\x01\x02\xff", 4)), "", false},
      {"W7", ClientFrame(1, "{\"FunID\":\"DKQ0001\",\"TranData\":{\"Region\":\"\xff\"}}"), "", false},
      {"W8", ClientFrame(1, good.substr(0, good.size() - 1) + ",\"x\":\"\xc3\"}"), "", false},
      {"W9", ClientFrame(1, good.substr(0, good.size() - 1) + ",\"x\":\"\xc0\xaf\"}"), "", false},
      {"W10", ClientFrame(1, good.substr(0, good.size() - 1) + ",\"x\":\"\xed\xa0\x80\"}"), "", false},
      {"W11", ClientFrame(9, "ping?"), "", false},
      {"W12", ClientFrame(1, good.substr(0, 10), false) + ClientFrame(0, good.substr(10)), ServerFrame(1, CardReply()),
       false},
  };
  for (const Row &r : rows) WsRow(r);
}

TEST_F(BadInput, OversizedAndBrokenWebSocketFrames) {
  const std::string kClose1009("\x88\x02\x03\xf1", 4), kClose1002("\x88\x02\x03\xea", 4);
  // A header announcing 1 MiB + 1 bytes (and its mask), without the payload.
  std::string huge = "\x81\xff";
  for (int i = 7; i >= 0; i--) huge += static_cast<char>((uint64_t{(1 << 20) + 1} >> (8 * i)) & 0xFF);
  huge += std::string(4, '\0');
  // 600 KiB, then a continuation header announcing 600 KiB more.
  const std::string first = ClientFrame(1, std::string(600 * 1024, 'a'), false);
  const std::string second = ClientFrame(0, std::string(600 * 1024, 'a')).substr(0, 14);
  const std::string bigText = Request("DKQ0001", kRegion).substr(0, CardRequest().size() - 1) + ",\"Big\":\"" +
                              std::string(700 * 1024, 'b') + "\"}";
  const std::string bigReply =
      "{\"Big\":\"" + std::string(700 * 1024, 'b') + "\"," + CardReply().substr(1);
  const Row rows[] = {
      {"X1", huge, kClose1009, true},
      {"X2", first + second, kClose1009, true},
      {"X3", ClientFrame(0, "orphan"), kClose1002, true},
      {"X4", ClientFrame(1, "{\"Fun", false) + ClientFrame(1, "ID\":1}"), kClose1002, true},
      {"X5", ClientFrame(8, "\x03\xe8"), "", true},
      {"X6", ClientFrame(1, bigText), ServerFrame(1, bigReply), false},
  };
  for (const Row &r : rows) WsRow(r);
}

}  // namespace
}  // namespace load
