// Harness for tests that talk to a running server over loopback: TCP,
// HTTP and WebSocket clients, port checks, child processes and scratch
// folders. Every wait is bounded.
#ifndef TESTS_E2E_HW_HARNESS_H
#define TESTS_E2E_HW_HARNESS_H

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace hwtest {

// <build>/bin and the source tree (from HW_BINARY_DIR / HW_SOURCE_DIR).
std::string BinDir();
std::string SourceDir();

// A TCP connection to 127.0.0.1.
class Conn {
 public:
  // nullptr when nothing accepts within timeout_ms.
  static std::unique_ptr<Conn> Open(int port, int timeout_ms = 2000);
  ~Conn();
  Conn(const Conn &) = delete;
  Conn &operator=(const Conn &) = delete;

  bool Send(const std::string &bytes);
  // Exactly n bytes, or fewer when the peer closes or timeout_ms passes.
  std::string ReadN(size_t n, int timeout_ms = 3000);
  // Everything that arrives until the line is quiet for quiet_ms or closed.
  std::string ReadQuiet(int quiet_ms = 300, int timeout_ms = 3000);
  // One HTTP reply: the header block (ended by LF LF or CRLF CRLF) and a
  // body of Content-Length bytes, as raw bytes; "" on time-out.
  std::string ReadHttpReply(int timeout_ms = 3000);

 protected:
  explicit Conn(int fd) : fd_(fd) {}
  // Waits for readable data; false on time-out.
  bool WaitReadable(int timeout_ms);
  std::string pending_;  // read but not yet returned
  int fd_;
};

struct Frame {
  int opcode = -1;
  bool fin = false;
  std::string payload;
};

// A masked client frame (FIN set unless fin is false), as a browser sends it.
std::string ClientFrame(int opcode, const std::string &payload, bool fin = true);

// A WebSocket client connection (client frames are masked).
class WsConn : public Conn {
 public:
  // Connects and upgrades; nullptr when the 101 reply does not come.
  static std::unique_ptr<WsConn> Open(int port, const std::string &path = "/",
                                      int timeout_ms = 2000);
  bool SendFrame(int opcode, const std::string &payload, bool fin = true);
  bool SendText(const std::string &text) { return SendFrame(1, text); }
  // The next frame; false on time-out or close.
  bool ReadFrame(Frame &f, int timeout_ms = 3000);
  // The next frame that is not a ping (the server pings idle peers).
  bool ReadDataFrame(Frame &f, int timeout_ms = 3000);
  std::string handshake_reply;

 private:
  explicit WsConn(int fd) : Conn(fd) {}
};

// One request on a fresh connection: the raw reply (see ReadHttpReply).
std::string HttpExchange(int port, const std::string &request, int timeout_ms = 3000);
// "POST <path> HTTP/1.1" with Content-Length and the body.
std::string PostRequest(const std::string &path, const std::string &body);
// Body of a raw HTTP reply (after the header block), "" when there is none.
std::string HttpBody(const std::string &reply);

// true when something accepts on 127.0.0.1:port within timeout_ms.
bool WaitForPort(int port, int timeout_ms);
// true when port can be bound on all interfaces right now.
bool PortFree(int port);

// A scratch folder, removed with its contents on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string &path() const { return path_; }

 private:
  std::string path_;
};

void WriteFile(const std::string &path, const std::string &content);
std::string ReadFile(const std::string &path);

// A child process with standard output and error in files.
class Process {
 public:
  // env: variables to set (an empty value removes the variable).
  Process(const std::string &program, const std::vector<std::string> &args,
          const std::map<std::string, std::string> &env = {}, const std::string &cwd = "");
  ~Process();  // kills a child that still runs
  Process(const Process &) = delete;
  Process &operator=(const Process &) = delete;

  pid_t pid() const { return pid_; }
  bool Running();
  void Signal(int sig);
  // Waits for the exit; false on time-out. *status gets the wait status.
  bool Wait(int timeout_ms, int *status);
  std::string Stdout() const;
  std::string Stderr() const;
  // Waits until standard output contains text.
  bool WaitForOutput(const std::string &text, int timeout_ms);

 private:
  TempDir dir_;
  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = 0;
};

}  // namespace hwtest

#endif
