// Readers of device types 5 (T10N) and 6 (SDANDC) on a pseudo-terminal,
// written from the frame layouts, with the simulated card behind them.
// Each runs on its own thread until destroyed.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ptcard.h"
#include "pty_peer.h"

class SerialReader {
 public:
  enum Kind { kT10n, kSdandc };
  explicit SerialReader(Kind kind);
  ~SerialReader();
  // The descriptor the library talks to.
  int fd() const { return pty_.slave(); }
  // Requests as received: SDANDC as text, T10N as hex of the payload.
  std::vector<std::string> requests();
  // Bytes that came before a T10N frame's STX (terminal sequences).
  Bytes preamble();

 private:
  void run();
  bool sdandc_once();
  bool t10n_once();
  void log(const std::string& s);
  Kind kind_;
  PtyPair pty_;
  std::atomic<bool> stop_{false};
  std::mutex m_;
  std::vector<std::string> requests_;
  Bytes preamble_;
  std::thread t_;
};
