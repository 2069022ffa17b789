// Latency of what needs no card while card operations keep the reader busy:
// one WebSocket re-issues DKQ0011 waits back to back (TranData.Timeout from
// the command line; the reader's time scale sets how long they really take),
// while /api/hello on a keep-alive connection and HeartBeat on a second
// WebSocket are timed one at a time, each after a random pause of 0-10 ms.
// Prints "hello_median_us hello_p99_us beat_median_us beat_p99_us".
// Usage: wait_latency [samples=1000] [timeout=3]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

int Connect() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(7776);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
    perror("connect");
    exit(1);
  }
  return fd;
}

bool SendAll(int fd, const std::string &s) { return send(fd, s.data(), s.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(s.size()); }

// Reads until the buffered input ends with tail (or holds it); false on close.
bool ReadUntil(int fd, std::string &in, const std::string &tail) {
  char buf[4096];
  while (in.find(tail) == std::string::npos) {
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return false;
    in.append(buf, static_cast<size_t>(n));
  }
  in.erase(0, in.find(tail) + tail.size());
  return true;
}

std::string MaskedText(const std::string &p) {
  std::string f;
  f += '\x81';
  if (p.size() < 126) {
    f += static_cast<char>(0x80 | p.size());
  } else {
    f += static_cast<char>(0x80 | 126);
    f += static_cast<char>(p.size() >> 8);
    f += static_cast<char>(p.size() & 0xff);
  }
  f.append("\0\0\0\0", 4);  // a zero mask leaves the payload as it is
  return f + p;
}

int WsOpen() {
  int fd = Connect();
  SendAll(fd, "GET / HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
              "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
  std::string in;
  if (!ReadUntil(fd, in, "\r\n\r\n")) exit(1);
  return fd;
}

long Percentile(std::vector<long> v, double p) {
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * v.size()))];
}

}  // namespace

int main(int argc, char **argv) {
  const int samples = argc > 1 ? atoi(argv[1]) : 1000;
  const std::string timeout = argc > 2 ? argv[2] : "3";
  std::atomic<bool> stop{false};
  std::thread waits([&] {
    int fd = WsOpen();
    const std::string req = MaskedText("{\"FunID\":\"DKQ0011\",\"TranData\":{\"Region\":\"1\",\"Timeout\":\"" + timeout + "\"}}");
    std::string in;
    while (!stop.load()) {
      if (!SendAll(fd, req) || !ReadUntil(fd, in, "\"FunID\":\"DKQ0011\"")) break;
    }
    close(fd);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  int http = Connect(), ws = WsOpen();
  const std::string hello = "GET /api/hello HTTP/1.1\r\n\r\n", beat = MaskedText("HeartBeat");
  std::string hin, win;
  std::vector<long> th, tb;
  std::mt19937 rng(1);
  for (int i = 0; i < samples; i++) {
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 10000));
    auto t = std::chrono::steady_clock::now();
    if (!SendAll(http, hello) || !ReadUntil(http, hin, "welcome to httpserver\n")) return 1;
    th.push_back(std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t).count());
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 10000));
    t = std::chrono::steady_clock::now();
    if (!SendAll(ws, beat) || !ReadUntil(ws, win, "\x81\x09HeartBeat")) return 1;
    tb.push_back(std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t).count());
  }
  stop = true;
  waits.join();
  printf("%ld %ld %ld %ld\n", Percentile(th, 0.5), Percentile(th, 0.99), Percentile(tb, 0.5), Percentile(tb, 0.99));
  return 0;
}
