#include "daemon.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "dispatcher.h"
#include "http_server.h"
#include "policy/service_policy.h"

namespace {

// Shared between the GUI thread (StopDaemon) and the server thread. Kept
// alive for the whole process so that a server thread still busy when main
// ends never touches destroyed objects.
struct DaemonState {
  std::mutex mu;
  std::condition_variable ended;
  std::shared_ptr<HttpServer> server;
  bool running = false;
  bool stopRequested = false;
  // Joined once it has ended, so that the thread's own clean-up (thread-local
  // state of the libraries it used) is over before the process exits.
  std::thread thread;
};

DaemonState &State() {
  static DaemonState *state = new DaemonState;  // never destroyed, see above
  return *state;
}

}  // namespace

void Daemon() {
  DaemonState &st = State();
  auto server = std::make_shared<HttpServer>();
  server->Init(ServiceListenAddress("7776"));
  server->AddHandler("/http/hardware", DoHttpHandle);
  bool stop;
  {
    std::lock_guard<std::mutex> lock(st.mu);
    stop = st.stopRequested;
    if (!stop) st.server = server;
  }
  if (!stop) server->Start();
  server->Close();
  std::lock_guard<std::mutex> lock(st.mu);
  st.server.reset();
  st.running = false;
  st.ended.notify_all();
}

void StartDaemonThread() {
  {
    std::lock_guard<std::mutex> lock(State().mu);
    State().running = true;
  }
  State().thread = std::thread(Daemon);
}

bool StopDaemon(std::chrono::milliseconds wait) {
  DaemonState &st = State();
  std::unique_lock<std::mutex> lock(st.mu);
  st.stopRequested = true;
  if (st.server) st.server->Stop();
  const bool ended = st.ended.wait_for(lock, wait, [&] { return !st.running; });
  lock.unlock();
  if (st.thread.joinable()) {
    if (ended)
      st.thread.join();
    else
      st.thread.detach();  // busy in a card operation: it ends with the process
  }
  return ended;
}
