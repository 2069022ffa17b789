// The real service on the virtual reader while a card operation runs: the
// server thread keeps answering everything that needs no card, card
// requests of all connections run one at a time in arrival order, a request
// whose client has gone never reaches the reader, a full queue answers
// -503 at once, and a client that stops reading is dropped alone.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "vreader_service.h"

namespace e2e {
namespace {

using hwtest::Frame;
using hwtest::WsConn;

const Fields kRegion = {{"Region", "440100"}};
const char kIndex[] = "<!doctype html><title>hwservice</title>\n";
const char kBusy[] = "读卡服务繁忙，请稍后重试";

int64_t MsSince(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t).count();
}

class Responsive : public ServiceOnVreader {
 protected:
  void SetUp() override {
    mkdir((tmp_.path() + "/web").c_str(), 0755);
    hwtest::WriteFile(tmp_.path() + "/web/index.html", kIndex);
    ServiceOnVreader::SetUp();
  }
  static Fields Scan(int seconds) { return {{"Region", "440100"}, {"Timeout", std::to_string(seconds)}}; }
  // Starts a QR wait of the given reader seconds on ws and waits until the
  // reader is inside it.
  void StartScan(WsConn &ws, int seconds) {
    ASSERT_TRUE(ws.SendText(Request("DKQ0011", Scan(seconds))));
    WaitForScan();
  }
  void WaitForScan() {
    bool waiting = false;
    for (int i = 0; i < 250 && !waiting; i++) {
      waiting = ctl("state").find("\"waiting\":\"scan\"") != std::string::npos;
      if (!waiting) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(waiting) << ctl("state");
  }
  // Ends the wait with code text; ws gets the scan's reply.
  void FinishScan(WsConn &ws, int seconds, const std::string &text) {
    ASSERT_EQ(ctl("present text=" + text), "OK");
    const Fields d = {{"ECardInfo", text}};
    Frame f;
    ASSERT_TRUE(ws.ReadDataFrame(f, 5000));
    EXPECT_EQ(f.payload, Reply("DKQ0011", 0, "", &d, Scan(seconds)));
  }
  std::string CardNoReply() {
    const Fields d = {{"CardNo", Card(profile_["slots"]["contact"].asString())["card_no"].asString()},
                      {"CardType", "2"}};
    return Reply("DKQ0001", 0, "", &d, kRegion);
  }
  std::string BusyReply() { return Reply("DKQ0001", -503, kBusy, nullptr, kRegion); }
};

TEST_F(Responsive, EverythingButCardsIsServedDuringAScanWait) {
  // An idle WebSocket opened before the wait: its ping is due 6 s later.
  auto idle = WsConn::Open(kPort);
  ASSERT_TRUE(idle);
  const auto opened = std::chrono::steady_clock::now();
  auto scan = WsConn::Open(kPort);
  auto beat = WsConn::Open(kPort);
  ASSERT_TRUE(scan && beat);
  StartScan(*scan, 80);  // eight real seconds

  int64_t worst = 0;
  int rounds = 0;
  while (MsSince(opened) < 5000) {
    auto t = std::chrono::steady_clock::now();
    EXPECT_EQ(hwtest::HttpBody(hwtest::HttpExchange(kPort, "GET /api/hello HTTP/1.1\r\n\r\n", 2000)),
              "welcome to httpserver");
    worst = std::max(worst, MsSince(t));
    t = std::chrono::steady_clock::now();
    EXPECT_EQ(hwtest::HttpBody(hwtest::HttpExchange(kPort, "GET / HTTP/1.1\r\n\r\n", 2000)), kIndex);
    worst = std::max(worst, MsSince(t));
    t = std::chrono::steady_clock::now();
    ASSERT_TRUE(beat->SendText("HeartBeat"));
    Frame f;
    ASSERT_TRUE(beat->ReadDataFrame(f, 2000));
    EXPECT_EQ(f.payload, "HeartBeat");
    worst = std::max(worst, MsSince(t));
    // The dispatcher's own answers need no card either.
    t = std::chrono::steady_clock::now();
    ASSERT_TRUE(beat->SendText(Request("DKQ9999", kRegion)));
    ASSERT_TRUE(beat->ReadDataFrame(f, 2000));
    EXPECT_EQ(f.payload, Reply("DKQ9999", -1, "该功能点暂未开发!", nullptr, kRegion));
    worst = std::max(worst, MsSince(t));
    rounds++;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_LT(worst, 250) << "slowest answer during the wait, over " << rounds << " rounds";
  Frame ping;
  ASSERT_TRUE(idle->ReadFrame(ping, 3000));
  EXPECT_EQ(ping.opcode, 9);
  const int64_t at = MsSince(opened);
  EXPECT_GE(at, 5000);
  EXPECT_LT(at, 7500) << "the idle ping came late";
  FinishScan(*scan, 80, "QMX-WAIT-1");
}

TEST_F(Responsive, CardRequestsOfAllConnectionsRunInArrivalOrder) {
  auto a = WsConn::Open(kPort), b = WsConn::Open(kPort), c = WsConn::Open(kPort);
  ASSERT_TRUE(a && b && c);
  StartScan(*a, 60);
  ASSERT_TRUE(b->SendText(Request("DKQ0011", Scan(60))));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(c->SendText(Request("DKQ0001", kRegion)));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  FinishScan(*a, 60, "FIRST");
  // b came before c: its wait runs now and c's card read waits behind it.
  WaitForScan();
  Frame f;
  EXPECT_FALSE(c->ReadDataFrame(f, 300)) << f.payload;
  FinishScan(*b, 60, "SECOND");
  ASSERT_TRUE(c->ReadDataFrame(f, 5000));
  EXPECT_EQ(f.payload, CardNoReply());
}

TEST_F(Responsive, QueuedRequestOfAClosedConnectionNeverReachesTheReader) {
  auto scan = WsConn::Open(kPort);
  ASSERT_TRUE(scan);
  StartScan(*scan, 60);
  {
    auto ws = WsConn::Open(kPort);
    auto http = hwtest::Conn::Open(kPort);
    ASSERT_TRUE(ws && http);
    ASSERT_TRUE(ws->SendText(Request("DKQ0001", kRegion)));
    ASSERT_TRUE(http->Send(hwtest::PostRequest("/http/hardware", Request("DKQ0004", kRegion))));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }  // both leave while their requests wait
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_EQ(ctl("clearlog"), "OK");
  FinishScan(*scan, 60, "ONLY");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (const std::string &cmd : WireCommands(vr_)) EXPECT_EQ(cmd.substr(0, 2), "1C") << "reached the reader: " << cmd;
  EXPECT_EQ(HttpCall(Request("DKQ0001", kRegion)), HttpOk(CardNoReply()));
}

TEST_F(Responsive, FullQueueAnswersBusyAtOnce) {
  auto scan = WsConn::Open(kPort);
  ASSERT_TRUE(scan);
  StartScan(*scan, 60);
  // The 17th request of one connection.
  std::vector<std::unique_ptr<WsConn>> conns;
  std::string sixteen;
  for (int i = 0; i < 16; i++) sixteen += hwtest::ClientFrame(1, Request("DKQ0001", kRegion));
  conns.push_back(WsConn::Open(kPort));
  ASSERT_TRUE(conns[0]);
  auto t = std::chrono::steady_clock::now();
  ASSERT_TRUE(conns[0]->Send(sixteen + hwtest::ClientFrame(1, Request("DKQ0001", kRegion))));
  Frame f;
  ASSERT_TRUE(conns[0]->ReadDataFrame(f, 2000));
  EXPECT_EQ(f.payload, BusyReply());
  EXPECT_LT(MsSince(t), 500);
  // 15 more connections fill the queue to 256; the next request anywhere is busy.
  for (int i = 1; i < 16; i++) {
    conns.push_back(WsConn::Open(kPort));
    ASSERT_TRUE(conns.back());
    ASSERT_TRUE(conns.back()->Send(sixteen));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  t = std::chrono::steady_clock::now();
  const std::string body = BusyReply();
  EXPECT_EQ(hwtest::HttpExchange(kPort, hwtest::PostRequest("/http/hardware", Request("DKQ0001", kRegion)), 2000) +
                "\n",
            "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\nCache-Control: no-cache\n"
            "Content-Length: " + std::to_string(body.size()) +
                "\nAccess-Control-Allow-Origin: *\nAccess-Control-Allow-Headers:Content-Type,XFILENAME,"
                "XFILECATEGORY,XFILESIZE\n\n" + body + "\n");
  EXPECT_EQ(WsCall(Request("DKQ0001", kRegion), 2000), body);
  EXPECT_LT(MsSince(t), 1000);
  // None of them received anything else; gone, their requests are dropped.
  for (auto &c : conns) EXPECT_FALSE(c->ReadDataFrame(f, 10)) << f.payload;
  conns.clear();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  FinishScan(*scan, 60, "DONE");
  t = std::chrono::steady_clock::now();
  EXPECT_EQ(HttpCall(Request("DKQ0001", kRegion)), HttpOk(CardNoReply()));
  EXPECT_LT(MsSince(t), 3000) << "dropped requests were run first";
}

TEST_F(Responsive, ClientThatStopsReadingIsClosedAloneAtItsCap) {
  // The worker is busy with a wait while the requests arrive, so they are
  // all taken before the first reply.
  auto scan = WsConn::Open(kPort);
  ASSERT_TRUE(scan);
  StartScan(*scan, 60);
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  int small = 4096;  // little room on our side: the replies pile up in the service
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  timeval limit{10, 0};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(kPort);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
  std::string out =
      "GET / HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
      "Sec-WebSocket-Version: 13\r\n\r\n";
  // Sixteen requests whose replies echo 1000 KiB each: four times the cap.
  const std::string big = "{\"Pad\":\"" + std::string(1000 * 1024, 'p') + "\",\"FunID\":\"DKQ0001\",\"TranData\":{\"Region\":\"440100\"}}";
  for (int i = 0; i < 16; i++) out += hwtest::ClientFrame(1, big);
  std::thread sender([&] {
    for (size_t off = 0; off < out.size();) {
      ssize_t n = send(fd, out.data() + off, out.size() - off, MSG_NOSIGNAL);
      if (n <= 0) break;
      off += static_cast<size_t>(n);
    }
  });
  sender.join();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  FinishScan(*scan, 60, "PILE");
  // Others are served meanwhile; once this card read behind the sixteen is
  // answered, all sixteen replies were handed over.
  EXPECT_EQ(hwtest::HttpBody(hwtest::HttpExchange(kPort, "GET /api/hello HTTP/1.1\r\n\r\n", 2000)), "welcome to httpserver");
  EXPECT_EQ(HttpCall(Request("DKQ0001", kRegion), 20000), HttpOk(CardNoReply()));
  // The service has closed the connection: it ends well before all replies.
  size_t got = 0;
  bool ended = false;
  const auto t = std::chrono::steady_clock::now();
  while (!ended && MsSince(t) < 10000) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 1000) <= 0) continue;
    char buf[65536];
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) ended = true;
    else got += static_cast<size_t>(n);
  }
  close(fd);
  EXPECT_TRUE(ended);
  EXPECT_LT(got, 16 * big.size());
  EXPECT_EQ(HttpCall(Request("DKQ0001", kRegion)), HttpOk(CardNoReply()));
}

}  // namespace
}  // namespace e2e
