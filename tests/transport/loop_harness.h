// A transport server on an ephemeral loopback port driven by the test's own
// thread, and blocking-free clients to talk to it.
#ifndef TESTS_TRANSPORT_LOOP_HARNESS_H
#define TESTS_TRANSPORT_LOOP_HARNESS_H

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "hwtransport.h"

struct Event {
  int ev = 0;
  struct mg_connection *nc = nullptr;
  std::string method, uri, query, body, message, data;
  unsigned char flags = 0;
};

class Server {
 public:
  std::vector<Event> events;
  // Called after an event is recorded (to reply, close, ...).
  std::function<void(mg_connection *, int, void *)> on;
  time_t now = 1000;  // used when the fake clock is on
  mg_mgr mgr;
  mg_connection *listener;
  uint16_t port;

  explicit Server(bool fake_clock = false) {
    mg_mgr_init(&mgr, this);
    if (fake_clock) mg_mgr_set_clock(&mgr, [](void *arg) { return *static_cast<time_t *>(arg); }, &now);
    listener = mg_bind(&mgr, "127.0.0.1:0", &Server::Handler);
    if (listener != nullptr) mg_set_protocol_http_websocket(listener);
    port = listener ? ntohs(listener->sa.sin_port) : 0;
  }
  ~Server() { mg_mgr_free(&mgr); }
  void Poll(int passes = 1, int ms = 5) {
    for (int i = 0; i < passes; i++) mg_mgr_poll(&mgr, ms);
  }
  int Count(int ev) const {
    int n = 0;
    for (const Event &e : events) n += e.ev == ev;
    return n;
  }
  const Event *First(int ev) const {
    for (const Event &e : events)
      if (e.ev == ev) return &e;
    return nullptr;
  }

 private:
  static void Handler(mg_connection *nc, int ev, void *data) {
    Server *s = static_cast<Server *>(nc->mgr->user_data);
    Event e;
    e.ev = ev;
    e.nc = nc;
    if (ev == MG_EV_HTTP_REQUEST || ev == MG_EV_WEBSOCKET_HANDSHAKE_REQUEST) {
      auto *hm = static_cast<http_message *>(data);
      auto str = [](const mg_str &m) { return std::string(m.p, m.len); };
      e.method = str(hm->method), e.uri = str(hm->uri), e.query = str(hm->query_string);
      e.body = str(hm->body), e.message = str(hm->message);
    } else if (ev == MG_EV_WEBSOCKET_FRAME || ev == MG_EV_WEBSOCKET_CONTROL_FRAME) {
      auto *wm = static_cast<websocket_message *>(data);
      e.data.assign(reinterpret_cast<char *>(wm->data), wm->size);
      e.flags = wm->flags;
    }
    s->events.push_back(e);
    if (s->on) s->on(nc, ev, data);
  }
};

class Client {
 public:
  int fd = -1;
  bool eof = false;
  std::string got;

  explicit Client(uint16_t port) {
    fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Loopback connects complete into the listen backlog without the server.
    if (connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) ADD_FAILURE() << "connect";
    fcntl(fd, F_SETFL, O_NONBLOCK);
  }
  ~Client() {
    if (fd >= 0) close(fd);
  }
  void Send(const std::string &s) {
    size_t off = 0;
    while (off < s.size()) {
      ssize_t n = send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
      if (n > 0) off += static_cast<size_t>(n);
      else if (errno != EAGAIN) return;
      else usleep(1000);
    }
  }
  // Reads whatever has arrived; notes the peer's close.
  void Drain() {
    char buf[65536];
    for (;;) {
      ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n > 0) got.append(buf, static_cast<size_t>(n));
      else {
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) eof = true;
        return;
      }
    }
  }
};

// Polls the server and reads the client until done() or about 3 s pass.
inline bool PumpUntil(Server &s, Client &c, const std::function<bool()> &done) {
  for (int i = 0; i < 600; i++) {
    if (done()) return true;
    s.Poll(1, 5);
    c.Drain();
  }
  return done();
}
inline bool PumpBytes(Server &s, Client &c, size_t n) {
  return PumpUntil(s, c, [&] { return c.got.size() >= n || c.eof; });
}
inline bool PumpClose(Server &s, Client &c) {
  return PumpUntil(s, c, [&] { return c.eof; });
}

#endif
