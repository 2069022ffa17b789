// Many loopback clients driven by one poll loop: each sends its bytes
// (all at once, or a byte at a time) and reads until it holds exactly the
// reply it must get. Used to put the service under hundreds or thousands of
// connections without a thread per client. Every wait is bounded.
#ifndef TESTS_LOAD_CLIENT_POOL_H
#define TESTS_LOAD_CLIENT_POOL_H

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "hw_harness.h"

namespace load {

// Raises this process's soft RLIMIT_NOFILE to its hard limit; returns the
// soft limit now in force.
long RaiseFdLimit();

// Open descriptors of a process (entries of /proc/<pid>/fd), -1 if unreadable.
int OpenFds(pid_t pid);
// Resident set size of a process in KiB (VmRSS), -1 if unreadable.
long RssKiB(pid_t pid);
// Soft and hard "Max open files" of a process from /proc/<pid>/limits.
bool FdLimits(pid_t pid, long *soft, long *hard);

using hwtest::ClientFrame;  // a masked client frame, as a browser sends it
// An unmasked server frame: what the service must send for a text reply.
std::string ServerFrame(int opcode, const std::string &payload);
// The upgrade request every WebSocket client here sends, and the exact reply.
std::string UpgradeRequest();
std::string UpgradeReply();

struct Client {
  int fd = -1;
  bool ws = false;  // the service may put pings (89 00) before a reply
  std::string out;  // still to send
  size_t sent = 0;
  int byte_gap_ms = 0;  // >0: one byte per gap (a slow client)
  int64_t next_send_ms = 0;
  std::string expect;  // exact bytes that must arrive
  std::string in;      // what arrived for the current expectation
  int pings = 0;
  bool closed = false;  // the service closed the connection
  std::string error;    // why the last expectation failed
};

class Pool {
 public:
  ~Pool();
  // Non-blocking connects to 127.0.0.1:port; false when one fails.
  bool Connect(int port, size_t count, bool ws);
  std::vector<Client> &clients() { return clients_; }
  // Gives client i bytes to send and the reply it must receive.
  void Queue(size_t i, const std::string &out, const std::string &expect, int byte_gap_ms = 0);
  // Runs until every client with an expectation holds it (true) or the time
  // is up or a client failed (false; Failures() says which).
  bool Run(int timeout_ms);
  // "client 12: got ... want ..." for the first few clients that did not get
  // their reply.
  std::string Failures(size_t max = 5) const;
  // Clients that received at least one ping since the last Run.
  size_t Pinged() const;
  void CloseAll();

 private:
  bool Complete(Client &c);
  std::vector<Client> clients_;
};

}  // namespace load

#endif
