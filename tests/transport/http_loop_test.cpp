// The poll loop and the HTTP layer over loopback sockets.
#include <sys/resource.h>
#include <sys/time.h>

#include <chrono>
#include <algorithm>
#include <memory>

#include "loop_harness.h"

static const char kOk[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";

// Answers every request with kOk.
static void ReplyOk(Server &s) {
  s.on = [](mg_connection *nc, int ev, void *) {
    if (ev == MG_EV_HTTP_REQUEST) mg_printf(nc, "%s", kOk);
  };
}

TEST(HttpLoop, RequestSplitOverSegmentsIsDeliveredOnceWhenComplete) {
  Server s;
  ASSERT_NE(s.listener, nullptr);
  Client c(s.port);
  for (const char *part : {"POST /hw?a=1 HT", "TP/1.1\r\nContent-Length: 5\r\n\r", "\nab", "cde"}) {
    EXPECT_EQ(s.Count(MG_EV_HTTP_REQUEST), 0);
    c.Send(part);
    s.Poll(3);
  }
  ASSERT_EQ(s.Count(MG_EV_HTTP_REQUEST), 1);
  const Event *e = s.First(MG_EV_HTTP_REQUEST);
  EXPECT_EQ(e->method, "POST");
  EXPECT_EQ(e->uri, "/hw");
  EXPECT_EQ(e->query, "a=1");
  EXPECT_EQ(e->body, "abcde");
  EXPECT_EQ(e->message, "POST /hw?a=1 HTTP/1.1\r\nContent-Length: 5\r\n\r\nabcde");
  s.Poll(3);
  EXPECT_EQ(s.Count(MG_EV_HTTP_REQUEST), 1);
  EXPECT_EQ(s.Count(MG_EV_CLOSE), 0);
}

TEST(HttpLoop, ReplyIsWrittenInTheSamePassAndConnectionStaysOpen) {
  Server s;
  ReplyOk(s);
  Client c(s.port);
  c.Send("GET /a HTTP/1.1\r\n\r\n");
  s.Poll(1, 1000);  // accept
  s.Poll(1, 1000);  // read, handle and write, all in this pass
  c.Drain();
  EXPECT_EQ(c.got, kOk);
  c.got.clear();
  // Pipelined requests in one segment, and a stray CR LF between them.
  c.Send("GET /b HTTP/1.1\r\n\r\n\r\nPOST /c HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
  ASSERT_TRUE(PumpBytes(s, c, 2 * strlen(kOk)));
  EXPECT_EQ(c.got, std::string(kOk) + kOk);
  ASSERT_EQ(s.Count(MG_EV_HTTP_REQUEST), 3);
  EXPECT_EQ(s.events[2].uri, "/c");
  EXPECT_EQ(s.events[2].body, "");  // Content-Length: 0 is delivered at once
  EXPECT_FALSE(c.eof);
}

TEST(HttpLoop, MalformedHeaderBlocksCloseWithoutReply) {
  std::string at_limit = "GET / HTTP/1.1\r\nX: ";
  at_limit += std::string(8192 - at_limit.size(), 'a');  // 8192 bytes, no end
  std::string just_fits = "GET / HTTP/1.1\r\nX: ";
  just_fits += std::string(8192 - just_fits.size() - 4, 'a') + "\r\n\r\n";
  struct Case {
    std::string req;
    bool delivered;
  } cases[] = {
      {at_limit, false},
      {just_fits, true},
      {"GET / HTTP/1.1\r\nHost:\tx\r\n\r\n", false},
      {"GET / HTTP/1.1\r\nHost: x\x01\r\n\r\n", false},
      {"GET /\x7f HTTP/1.1\r\n\r\n", false},
      {"GET /\xe4\xbd\xa0 HTTP/1.1\r\nX: \x80\xff\r\n\r\n", true},
  };
  for (const Case &k : cases) {
    Server s;
    ReplyOk(s);
    Client c(s.port);
    c.Send(k.req);
    if (k.delivered) {
      ASSERT_TRUE(PumpBytes(s, c, strlen(kOk)));
      EXPECT_EQ(c.got, kOk);
      EXPECT_FALSE(c.eof);
    } else {
      ASSERT_TRUE(PumpClose(s, c)) << k.req.substr(0, 40);
      EXPECT_EQ(c.got, "");
      EXPECT_EQ(s.Count(MG_EV_HTTP_REQUEST), 0);
      EXPECT_EQ(s.Count(MG_EV_CLOSE), 1);
    }
  }
}

TEST(HttpLoop, ChunkedBodyIsReassembledBeforeDelivery) {
  Server s;
  ReplyOk(s);
  Client c(s.port);
  c.Send("POST /up HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nWiki\r\n");
  s.Poll(5);
  EXPECT_EQ(s.Count(MG_EV_HTTP_REQUEST), 0);
  c.Send("5\r\npedia\r\n0\r\n\r\nGET /next HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(PumpBytes(s, c, 2 * strlen(kOk)));
  ASSERT_EQ(s.Count(MG_EV_HTTP_REQUEST), 2);
  EXPECT_EQ(s.events[0].body, "Wikipedia");
  EXPECT_EQ(s.events[0].message, "POST /up HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nWikipedia");
  EXPECT_EQ(s.events[1].uri, "/next");
}

TEST(HttpLoop, PostWithoutLengthIsDeliveredAtThePeersClose) {
  Server s;
  ReplyOk(s);
  Client c(s.port);
  c.Send("POST /x HTTP/1.1\r\n\r\n{\"a\":");
  s.Poll(3);
  c.Send("1}");
  s.Poll(3);
  EXPECT_EQ(s.Count(MG_EV_HTTP_REQUEST), 0);
  shutdown(c.fd, SHUT_WR);
  ASSERT_TRUE(PumpClose(s, c));
  ASSERT_EQ(s.Count(MG_EV_HTTP_REQUEST), 1);
  EXPECT_EQ(s.First(MG_EV_HTTP_REQUEST)->body, "{\"a\":1}");
  EXPECT_EQ(c.got, kOk);  // the half-closed peer still gets its reply
}

TEST(HttpLoop, OversizedOrBadBodiesAreRefused) {
  const std::string too_large = "HTTP/1.1 413 Payload Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
  const std::string bad = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
  std::string big_chunk = "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (int i = 0; i < 17; i++) big_chunk += "10000\r\n" + std::string(65536, 'c') + "\r\n";
  struct Case {
    std::string req;
    std::string reply;
  } cases[] = {
      {"POST / HTTP/1.1\r\nContent-Length: 5000000000\r\n\r\n", too_large},
      {"POST / HTTP/1.1\r\nContent-Length: 1048577\r\n\r\n", too_large},
      {"POST / HTTP/1.1\r\n\r\n" + std::string(1048577, 'p'), too_large},
      {big_chunk, too_large},
      {"POST / HTTP/1.1\r\nContent-Length: 12x\r\n\r\n", bad},
      {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nq\r\n", bad},
      {"GET\r\n\r\n", bad},
  };
  for (const Case &k : cases) {
    Server s;
    ReplyOk(s);
    Client c(s.port);
    // Large requests are written while the loop runs.
    for (size_t off = 0; off < k.req.size(); off += 65536) {
      c.Send(k.req.substr(off, 65536));
      s.Poll(2, 1);
      c.Drain();
    }
    ASSERT_TRUE(PumpClose(s, c)) << k.req.substr(0, 50);
    EXPECT_EQ(c.got, k.reply) << k.req.substr(0, 50);
    EXPECT_EQ(s.Count(MG_EV_HTTP_REQUEST), 0);
  }
  // A body of exactly the limit is accepted.
  Server s;
  ReplyOk(s);
  Client c(s.port);
  std::string req = "POST / HTTP/1.1\r\nContent-Length: 1048576\r\n\r\n" + std::string(1048576, 'b');
  for (size_t off = 0; off < req.size(); off += 65536) {
    c.Send(req.substr(off, 65536));
    s.Poll(2, 1);
  }
  ASSERT_TRUE(PumpBytes(s, c, strlen(kOk)));
  ASSERT_EQ(s.Count(MG_EV_HTTP_REQUEST), 1);
  EXPECT_EQ(s.First(MG_EV_HTTP_REQUEST)->body.size(), 1048576u);
}

TEST(HttpLoop, LongFormattedRepliesAreNotCut) {
  Server s;
  std::string big(100000, 'z');
  s.on = [&](mg_connection *nc, int ev, void *) {
    if (ev == MG_EV_HTTP_REQUEST) mg_printf(nc, "HTTP/1.1 200 OK\r\nContent-Length: %zu\r\n\r\n%s", big.size(), big.c_str());
  };
  Client c(s.port);
  c.Send("GET / HTTP/1.1\r\n\r\n");
  std::string want = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + big;
  ASSERT_TRUE(PumpBytes(s, c, want.size()));
  EXPECT_EQ(c.got, want);
}

// A peer that sends requests but reads no replies stops being read.
TEST(HttpLoop, UnreadRepliesPauseReadingUntilTheyDrain) {
  Server s;
  std::string big(700000, 'r');
  int small = 4096;
  s.on = [&](mg_connection *nc, int ev, void *) {
    if (ev != MG_EV_HTTP_REQUEST) return;
    setsockopt(nc->sock, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);  // keep the kernel's share small
    mg_send(nc, big.data(), static_cast<int>(big.size()));
  };
  Client c(s.port);
  c.Send("GET /1 HTTP/1.1\r\n\r\nGET /2 HTTP/1.1\r\n\r\n");
  s.Poll(20, 2);
  ASSERT_EQ(s.Count(MG_EV_HTTP_REQUEST), 2);
  mg_connection *nc = s.events[0].nc;
  ASSERT_GE(nc->send_mbuf.len, static_cast<size_t>(MG_MAX_SEND_BACKLOG));
  c.Send("GET /3 HTTP/1.1\r\n\r\n");
  s.Poll(20, 2);
  EXPECT_EQ(s.Count(MG_EV_HTTP_REQUEST), 2);
  ASSERT_TRUE(PumpUntil(s, c, [&] { return s.Count(MG_EV_HTTP_REQUEST) == 3; }));
  ASSERT_TRUE(PumpBytes(s, c, 3 * big.size()));
  EXPECT_EQ(c.got.size(), 3 * big.size());
}

TEST(HttpLoop, BindAcceptsPortOrAddressAndRefusesOthers) {
  mg_mgr mgr;
  mg_mgr_init(&mgr, nullptr);
  mg_connection *any = mg_bind(&mgr, "0", nullptr);
  ASSERT_NE(any, nullptr);
  EXPECT_EQ(any->sa.sin_addr.s_addr, htonl(INADDR_ANY));
  EXPECT_NE(any->sa.sin_port, 0);
  EXPECT_TRUE(any->flags & MG_F_LISTENING);
  char taken[32];
  snprintf(taken, sizeof taken, "127.0.0.1:%u", ntohs(any->sa.sin_port));
  EXPECT_EQ(mg_bind(&mgr, taken, nullptr), nullptr);  // port in use
  for (const char *bad : {"", "http", "70000", "1.2.3:80", ":80", "127.0.0.1:", "-1", "12a"})
    EXPECT_EQ(mg_bind(&mgr, bad, nullptr), nullptr) << bad;
  mg_mgr_free(&mgr);
  EXPECT_EQ(mgr.active_connections, nullptr);
}

TEST(HttpLoop, CloseIsDeliveredForPeerCloseAndForManagerFree) {
  Server s;
  Client a(s.port), b(s.port);
  a.Send("GET / HTTP/1.1\r\n\r\n");
  b.Send("GET / HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(PumpUntil(s, a, [&] { return s.Count(MG_EV_HTTP_REQUEST) == 2; }));
  close(a.fd);
  a.fd = -1;
  ASSERT_TRUE(PumpUntil(s, b, [&] { return s.Count(MG_EV_CLOSE) == 1; }));
  mg_mgr_free(&s.mgr);  // b and the listener
  EXPECT_EQ(s.Count(MG_EV_CLOSE), 3);
  EXPECT_EQ(s.mgr.active_connections, nullptr);
  mg_mgr_init(&s.mgr, &s);  // the destructor frees it again
}

// With descriptors exhausted, accept fails; the loop must wait, not spin.
TEST(HttpLoop, FailedAcceptDoesNotSpinAndRecovers) {
  Server s;
  ReplyOk(s);
  Client c(s.port);
  rlimit old;
  getrlimit(RLIMIT_NOFILE, &old);
  std::vector<int> fillers;
  int probe = dup(0);
  rlimit low = old;
  low.rlim_cur = static_cast<rlim_t>(probe + 16);
  close(probe);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  for (int fd; (fd = dup(0)) >= 0;) fillers.push_back(fd);
  rusage r0, r1;
  getrusage(RUSAGE_SELF, &r0);
  auto t0 = std::chrono::steady_clock::now();
  s.Poll(4, 100);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  getrusage(RUSAGE_SELF, &r1);
  for (int fd : fillers) close(fd);
  setrlimit(RLIMIT_NOFILE, &old);
  EXPECT_GE(ms, 150);  // every other pass waits out the pause
  long cpu_us = (r1.ru_utime.tv_sec - r0.ru_utime.tv_sec) * 1000000L + (r1.ru_utime.tv_usec - r0.ru_utime.tv_usec) +
                (r1.ru_stime.tv_sec - r0.ru_stime.tv_sec) * 1000000L + (r1.ru_stime.tv_usec - r0.ru_stime.tv_usec);
  EXPECT_LT(cpu_us, 100000);
  EXPECT_EQ(s.Count(MG_EV_HTTP_REQUEST), 0);
  // Descriptors back: the waiting connection is accepted and served.
  c.Send("GET / HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(PumpBytes(s, c, strlen(kOk)));
  EXPECT_EQ(c.got, kOk);
}

// Descriptors above 1023 are served like any other.
TEST(HttpLoop, ServesMoreThanATousandConnectionsAtOnce) {
  rlimit old;
  getrlimit(RLIMIT_NOFILE, &old);
  rlimit high = old;
  if (high.rlim_cur < 3000) high.rlim_cur = std::min<rlim_t>(3000, old.rlim_max);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &high), 0);
  if (high.rlim_cur < 2400) GTEST_SKIP() << "descriptor limit too low";
  {
    Server s;
    ReplyOk(s);
    const int n = 1100;
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < n; i++) {
      clients.push_back(std::make_unique<Client>(s.port));
      if (i % 100 == 99) s.Poll(2, 1);  // keep the backlog short
    }
    for (auto &c : clients) c->Send("GET / HTTP/1.1\r\n\r\n");
    int done = 0;
    for (int round = 0; round < 400 && done < n; round++) {
      s.Poll(1, 5);
      done = 0;
      for (auto &c : clients) {
        c->Drain();
        done += c->got == kOk;
      }
    }
    EXPECT_EQ(done, n);
    int high_fds = 0;
    for (mg_connection *nc = s.mgr.active_connections; nc; nc = nc->next) high_fds += nc->sock >= 1024;
    EXPECT_GT(high_fds, 0);
  }
  setrlimit(RLIMIT_NOFILE, &old);
}
