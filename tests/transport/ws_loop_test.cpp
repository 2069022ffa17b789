// The WebSocket layer over loopback sockets.
#include "loop_harness.h"
#include "ws_frame.h"

static const char kUpgrade[] =
    "GET /chat HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
static const char k101[] =
    "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
    "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n";

// A client frame, masked with a fixed key unless masked is false.
static std::string Frame(int byte0, const std::string &payload, bool masked = true) {
  std::string f(1, static_cast<char>(byte0));
  unsigned char h[10];
  size_t n = ws_encode_frame_header(h, 0, payload.size());
  h[1] |= masked ? 0x80 : 0;
  f.append(reinterpret_cast<char *>(h) + 1, n - 1);
  const unsigned char key[4] = {0x11, 0x22, 0x33, 0x44};
  if (masked) f.append(reinterpret_cast<const char *>(key), 4);
  std::string p = payload;
  if (masked) ws_unmask(reinterpret_cast<unsigned char *>(&p[0]), p.size(), key);
  return f + p;
}

// A server that echoes every data message as a text frame.
struct WsFixture : ::testing::Test {
  Server s{true};
  Client c{s.port};
  void SetUp() override {
    s.on = [](mg_connection *nc, int ev, void *data) {
      if (ev == MG_EV_WEBSOCKET_FRAME) {
        auto *wm = static_cast<websocket_message *>(data);
        mg_send_websocket_frame(nc, WEBSOCKET_OP_TEXT, wm->data, wm->size);
      }
    };
  }
  void Upgrade() {
    c.Send(kUpgrade);
    ASSERT_TRUE(PumpBytes(s, c, strlen(k101)));
    ASSERT_EQ(c.got, k101);
    c.got.clear();
  }
};

TEST_F(WsFixture, UpgradeRepliesWithTheExact101AndTakesFollowingFrames) {
  c.Send(std::string(kUpgrade) + Frame(0x81, "early"));
  std::string want = std::string(k101) + "\x81\x05" + "early";
  ASSERT_TRUE(PumpBytes(s, c, want.size()));
  EXPECT_EQ(c.got, want);
  ASSERT_GE(s.events.size(), 3u);
  EXPECT_EQ(s.events[0].ev, MG_EV_WEBSOCKET_HANDSHAKE_REQUEST);
  EXPECT_EQ(s.events[0].uri, "/chat");
  EXPECT_EQ(s.events[1].ev, MG_EV_WEBSOCKET_HANDSHAKE_DONE);
  EXPECT_EQ(s.events[2].ev, MG_EV_WEBSOCKET_FRAME);
  EXPECT_EQ(s.Count(MG_EV_HTTP_REQUEST), 0);
  EXPECT_TRUE(s.events[0].nc->flags & MG_F_IS_WEBSOCKET);
}

TEST_F(WsFixture, HandlerClosingOnTheRequestPreventsTheHandshake) {
  s.on = [](mg_connection *nc, int ev, void *) {
    if (ev == MG_EV_WEBSOCKET_HANDSHAKE_REQUEST) nc->flags |= MG_F_CLOSE_IMMEDIATELY;
  };
  c.Send(kUpgrade);
  ASSERT_TRUE(PumpClose(s, c));
  EXPECT_EQ(c.got, "");
  EXPECT_EQ(s.Count(MG_EV_WEBSOCKET_HANDSHAKE_DONE), 0);
}

TEST_F(WsFixture, RepliesUseTheRightLengthForm) {
  Upgrade();
  struct Case {
    size_t size;
    std::string header;
  } cases[] = {
      {125, "\x81\x7d"},
      {126, std::string("\x81\x7e\x00\x7e", 4)},
      {65535, "\x81\x7e\xff\xff"},
      {65536, std::string("\x81\x7f\x00\x00\x00\x00\x00\x01\x00\x00", 10)},
  };
  for (const Case &k : cases) {
    std::string payload(k.size, 'm');
    payload[0] = 'A';
    payload.back() = 'Z';
    c.got.clear();
    c.Send(Frame(0x81, payload));
    ASSERT_TRUE(PumpBytes(s, c, k.header.size() + k.size)) << k.size;
    EXPECT_EQ(c.got, k.header + payload) << k.size;
  }
}

TEST_F(WsFixture, FragmentsArriveAsOneMessageAndControlFramesApart) {
  Upgrade();
  c.Send(Frame(0x01, "Hel"));
  c.Send(Frame(0x00, "lo "));
  s.Poll(3);
  EXPECT_EQ(s.Count(MG_EV_WEBSOCKET_FRAME), 0);
  c.Send(Frame(0x89, "ping!"));  // between fragments
  c.Send(Frame(0x80, "world"));
  ASSERT_TRUE(PumpBytes(s, c, 13));
  ASSERT_EQ(s.Count(MG_EV_WEBSOCKET_FRAME), 1);
  const Event *m = s.First(MG_EV_WEBSOCKET_FRAME);
  EXPECT_EQ(m->data, "Hello world");
  EXPECT_EQ(m->flags, 0x81);
  const Event *p = s.First(MG_EV_WEBSOCKET_CONTROL_FRAME);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->data, "ping!");
  EXPECT_EQ(p->flags, 0x89);
  EXPECT_EQ(c.got, "\x81\x0bHello world");  // the echo only: no pong is sent

  // A masked empty frame, and an unmasked one, are empty messages.
  c.got.clear();
  c.Send(Frame(0x82, "") + Frame(0x81, "", false));
  ASSERT_TRUE(PumpBytes(s, c, 4));
  ASSERT_EQ(s.Count(MG_EV_WEBSOCKET_FRAME), 3);
  EXPECT_EQ(s.events.back().data, "");
  EXPECT_EQ(s.events.back().flags, 0x81);
  EXPECT_EQ(c.got, std::string("\x81\x00\x81\x00", 4));
}

TEST_F(WsFixture, CloseFrameEndsTheConnectionAfterPendingReplies) {
  Upgrade();
  c.Send(Frame(0x81, "last") + Frame(0x88, "\x03\xe8") + Frame(0x81, "ignored"));
  ASSERT_TRUE(PumpClose(s, c));
  EXPECT_EQ(c.got, "\x81\x04last");  // no close frame is sent back
  EXPECT_EQ(s.Count(MG_EV_WEBSOCKET_FRAME), 1);
  ASSERT_NE(s.First(MG_EV_WEBSOCKET_CONTROL_FRAME), nullptr);
  EXPECT_EQ(s.First(MG_EV_WEBSOCKET_CONTROL_FRAME)->data, "\x03\xe8");
  EXPECT_EQ(s.Count(MG_EV_CLOSE), 1);
}

TEST_F(WsFixture, SilentConnectionIsPingedAfterMoreThanFiveWholeSeconds) {
  Upgrade();  // last traffic at 1000
  const std::string ping("\x89\x00", 2);
  struct Step {
    time_t at;
    bool ping;
  } steps[] = {{1005, false}, {1006, true}, {1011, false}, {1012, true}, {1017, false}};
  for (const Step &st : steps) {
    s.now = st.at;
    s.Poll(2);
    c.Drain();
    EXPECT_EQ(c.got, st.ping ? ping : "") << st.at;
    c.got.clear();
  }
  // Input counts as traffic: the next ping waits six seconds from it.
  c.Send(Frame(0x8a, ""));  // a pong, at 1017
  s.Poll(3);
  s.now = 1022;
  s.Poll(2);
  c.Drain();
  EXPECT_EQ(c.got, "");
  s.now = 1023;
  s.Poll(2);
  c.Drain();
  EXPECT_EQ(c.got, ping);
}

TEST_F(WsFixture, OversizedMessagesAndBrokenFragmentsEndTheConnection) {
  const std::string too_big("\x88\x02\x03\xf1", 4), protocol("\x88\x02\x03\xea", 4);
  std::string huge_header("\x82\xff\x80\x00\x00\x00\x00\x00\x00\x00" "abcd", 14);  // 2^63 bytes
  std::string fragments;
  for (int i = 0; i < 17; i++) fragments += Frame(i == 0 ? 0x02 : 0x00, std::string(65536, 'f'));
  struct Case {
    std::string bytes, reply;
  } cases[] = {
      {huge_header, too_big},
      {Frame(0x81, std::string(1048577, 'x')).substr(0, 20), too_big},
      {fragments, too_big},
      {Frame(0x80, "lonely continuation"), protocol},
      {Frame(0x01, "a") + Frame(0x81, "new message inside"), protocol},
  };
  for (const Case &k : cases) {
    Server srv(true);
    Client cl(srv.port);
    cl.Send(kUpgrade);
    ASSERT_TRUE(PumpBytes(srv, cl, strlen(k101)));
    cl.got.clear();
    for (size_t off = 0; off < k.bytes.size(); off += 65536) {
      cl.Send(k.bytes.substr(off, 65536));
      srv.Poll(2, 1);
    }
    ASSERT_TRUE(PumpClose(srv, cl));
    EXPECT_EQ(cl.got, k.reply);
    EXPECT_EQ(srv.Count(MG_EV_WEBSOCKET_FRAME), 0);
  }
}
