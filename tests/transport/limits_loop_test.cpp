// What the loop does for a service that answers later and against peers
// that hold on: wake-up from another thread, held HTTP requests, the caps
// on connections and unsent bytes, the idle limit of HTTP connections.
#include <chrono>
#include <memory>
#include <thread>

#include "loop_harness.h"

namespace {

const char kGet[] = "GET /a HTTP/1.1\r\n\r\n";
const char kReply[] = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";

TEST(LoopLimits, WakeUpFromAnotherThreadEndsTheWaitAndCallsTheHandlerOnce) {
  Server s;
  int calls = 0;
  ASSERT_EQ(mg_mgr_set_wakeup(&s.mgr, [](mg_mgr *, void *arg) { ++*static_cast<int *>(arg); }, &calls), 0);
  s.Poll(1, 0);
  EXPECT_EQ(calls, 0);
  std::thread t([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    mg_mgr_wakeup(&s.mgr);
  });
  const auto start = std::chrono::steady_clock::now();
  s.Poll(1, 5000);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  t.join();
  EXPECT_LT(ms, 2000);
  EXPECT_EQ(calls, 1);
  // Several wake-ups made before the loop looks again are one call. (Made
  // while it waits, the loop may take the first alone: two calls, rightly.)
  std::thread([&] {
    mg_mgr_wakeup(&s.mgr);
    mg_mgr_wakeup(&s.mgr);
  }).join();
  s.Poll(1, 0);
  EXPECT_EQ(calls, 2);
  s.Poll(1, 0);
  EXPECT_EQ(calls, 2);
}

// A held request: the pipelined one behind it waits for mg_resume, a peer
// that closes while held ends the connection, unless its close ended the
// held request itself (a body read until close), which still gets its reply.
TEST(LoopLimits, HeldRequestsKeepOrderAndPeerCloseEndsThem) {
  struct Case {
    const char *name;
    std::string send;
    bool shut;         // the peer half-closes after sending
    int delivered;     // requests delivered before mg_resume
    bool open_after;   // the connection is still there for the reply
  } cases[] = {
      {"pipelined", std::string(kGet) + kGet, false, 1, true},
      {"peer closes while held", kGet, true, 1, false},
      {"body until close", "POST /p HTTP/1.1\r\n\r\nabc", true, 1, true},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.name);
    Server s;
    s.on = [](mg_connection *nc, int ev, void *) {
      if (ev == MG_EV_HTTP_REQUEST) nc->flags |= MG_F_HOLD;
    };
    Client c(s.port);
    c.Send(k.send);
    if (k.shut) shutdown(c.fd, SHUT_WR);
    s.Poll(20, 5);
    EXPECT_EQ(s.Count(MG_EV_HTTP_REQUEST), k.delivered);
    const Event *req = s.First(MG_EV_HTTP_REQUEST);
    ASSERT_TRUE(req != nullptr);
    EXPECT_EQ(s.Count(MG_EV_CLOSE), k.open_after ? 0 : 1);
    if (!k.open_after) continue;
    mg_connection *nc = req->nc;
    s.on = nullptr;
    mg_printf(nc, "%s", kReply);
    mg_resume(nc);
    EXPECT_EQ(s.Count(MG_EV_HTTP_REQUEST), k.send.size() > strlen(kGet) + 5 && !k.shut ? 2 : 1);
    ASSERT_TRUE(PumpBytes(s, c, strlen(kReply)));
    EXPECT_EQ(c.got, kReply);
    if (k.shut) {
      EXPECT_TRUE(PumpClose(s, c));
    }
  }
}

TEST(LoopLimits, ConnectionsPastTheCapAreClosedAtOnceAndCounted) {
  Server s;
  s.mgr.max_conns = 2;
  auto a = std::make_unique<Client>(s.port);
  Client b(s.port);
  s.Poll(3, 5);
  Client c(s.port);
  s.Poll(3, 5);
  EXPECT_TRUE(PumpClose(s, c));
  EXPECT_EQ(s.mgr.refused_conns, 1u);
  EXPECT_EQ(s.mgr.num_conns, 2u);
  // One leaves: the next is served.
  a.reset();
  for (int i = 0; i < 100 && s.mgr.num_conns > 1; i++) s.Poll(1, 5);
  Client d(s.port);
  s.Poll(5, 5);
  EXPECT_EQ(s.mgr.refused_conns, 1u);
  d.Send(kGet);
  s.Poll(5, 5);
  EXPECT_EQ(s.Count(MG_EV_HTTP_REQUEST), 1);
}

TEST(LoopLimits, PeerThatDoesNotReadIsClosedPastTheUnsentCap) {
  Server s;
  Client c(s.port);
  int small = 4096;
  setsockopt(c.fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  c.Send(kGet);
  s.Poll(3, 5);
  ASSERT_EQ(s.Count(MG_EV_HTTP_REQUEST), 1);
  mg_connection *nc = s.First(MG_EV_HTTP_REQUEST)->nc;
  // Replies handed in later, as a card worker does, up to just under the cap stay.
  const std::string chunk(1024 * 1024, 'r');
  for (int i = 0; i < 8 && s.Count(MG_EV_CLOSE) == 0; i++) {
    EXPECT_LE(nc->send_mbuf.len, static_cast<size_t>(MG_MAX_SEND_BUFFER));
    mg_send(nc, chunk.data(), static_cast<int>(chunk.size()));
    s.Poll(1, 5);
  }
  EXPECT_EQ(s.Count(MG_EV_CLOSE), 1);
}

TEST(LoopLimits, IdleHttpConnectionsCloseAfterTheLimitWebSocketsAndHeldOnesStay) {
  Server s(true);
  s.on = [](mg_connection *nc, int ev, void *data) {
    auto *hm = static_cast<http_message *>(data);
    if (ev == MG_EV_HTTP_REQUEST && mg_vcmp(&hm->uri, "/hold") == 0) nc->flags |= MG_F_HOLD;
  };
  Client idle(s.port), held(s.port), ws(s.port);
  held.Send("GET /hold HTTP/1.1\r\n\r\n");
  ws.Send("GET / HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n");
  s.Poll(5, 5);
  s.now += MG_HTTP_IDLE_TIMEOUT;
  s.Poll(2, 5);
  EXPECT_EQ(s.Count(MG_EV_CLOSE), 0);
  s.now += 1;
  s.Poll(2, 5);
  EXPECT_EQ(s.Count(MG_EV_CLOSE), 1);
  idle.Drain();
  held.Drain();
  EXPECT_TRUE(idle.eof);
  EXPECT_FALSE(held.eof);
}

}  // namespace
