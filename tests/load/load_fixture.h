// The real service on a private virtual reader (tests/e2e fixture), started
// the way a desktop session starts it: with a soft descriptor limit of 1024.
// The test process itself runs at its hard limit, to hold its clients.
#ifndef TESTS_LOAD_LOAD_FIXTURE_H
#define TESTS_LOAD_LOAD_FIXTURE_H

#include <sys/resource.h>

#include <chrono>
#include <thread>

#include "client_pool.h"
#include "vreader_service.h"

namespace load {

constexpr long kDesktopSoftLimit = 1024;

class ServiceUnderLoad : public e2e::ServiceOnVreader {
 protected:
  void SetUp() override {
    rlimit rl{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &rl), 0);
    hard_ = static_cast<long>(rl.rlim_max);
    if (rl.rlim_max == RLIM_INFINITY || rl.rlim_max > static_cast<rlim_t>(kDesktopSoftLimit)) {
      rl.rlim_cur = kDesktopSoftLimit;
      ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &rl), 0);
    }
    ServiceOnVreader::SetUp();  // the reader and the service inherit 1024
    RaiseFdLimit();
    ASSERT_TRUE(svc_ && svc_->Running());
    pid_ = svc_->pid();
  }

  // Waits (bounded) until the service holds exactly n descriptors; the
  // count last seen.
  int WaitForFds(int n, int timeout_ms = 5000) {
    int now = OpenFds(pid_);
    for (int waited = 0; now != n && waited < timeout_ms; waited += 20) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      now = OpenFds(pid_);
    }
    return now;
  }

  // The service's descriptors once they stop changing: connections of
  // clients that just left are closed in the next pass of its loop.
  int SettledFds() {
    int last = OpenFds(pid_), same = 0;
    for (int i = 0; i < 100 && same < 5; i++) {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      const int now = OpenFds(pid_);
      same = now == last ? same + 1 : 0;
      last = now;
    }
    return last;
  }

  long hard_ = 0;
  pid_t pid_ = -1;
};

// The 200 reply of /api/hello, byte for byte.
inline std::string HelloReply() { return e2e::HttpOk("welcome to httpserver"); }
inline std::string HelloRequest() { return "GET /api/hello HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"; }
// /api/hello on a fresh connection: the whole reply, the LF after the
// counted body included.
inline std::string Hello() {
  auto c = hwtest::Conn::Open(e2e::kPort);
  if (!c || !c->Send(HelloRequest())) return "<no connection>";
  const std::string r = c->ReadHttpReply(3000);
  return r.empty() ? r : r + c->ReadN(1, 1000);
}

}  // namespace load

#endif
