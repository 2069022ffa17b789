// A pseudo-terminal pair for driving the library against a scripted reader:
// the library opens the slave by name, the peer works on the master.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

using Bytes = std::vector<uint8_t>;

class PtyPair {
 public:
  PtyPair();
  ~PtyPair();
  int master() const { return master_; }
  int slave() const { return slave_; }
  const std::string& name() const { return name_; }

  // Peer side I/O on the master, each byte waited for at most timeout_ms.
  bool read_exact(uint8_t* p, size_t n, int timeout_ms = 3000);
  int read1(int timeout_ms = 3000);  // byte or -1
  Bytes read_exactly(size_t n, int timeout_ms = 3000);
  // Everything that arrives until the line has been quiet for quiet_ms.
  Bytes drain(int quiet_ms = 100);
  void write(const Bytes& b);
  void write1(uint8_t b) { write(Bytes{b}); }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string name_;
};

// Runs a peer script on its own thread; joined by the destructor or join().
class PeerThread {
 public:
  explicit PeerThread(std::function<void()> fn) : t_(std::move(fn)) {}
  ~PeerThread() { join(); }
  void join() {
    if (t_.joinable()) t_.join();
  }

 private:
  std::thread t_;
};

Bytes hex_bytes(const char* hex);  // "0A 1B" or "0A1B"
std::string to_hex_text(const Bytes& b);
