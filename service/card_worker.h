// The card worker: the one thread that calls the client library. Requests of
// every connection run one at a time in arrival order; replies go back to
// the server thread through a list it collects when woken.
#ifndef HWSERVICE_CARD_WORKER_H
#define HWSERVICE_CARD_WORKER_H

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "dispatcher.h"

// Queue limits: requests waiting (not yet running) per connection and in
// all, and the request text they hold in all.
constexpr size_t kCardQueuePerConn = 16;
constexpr size_t kCardQueueTotal = 256;
constexpr size_t kCardQueueBytes = 64 * 1024 * 1024;

class CardWorker {
 public:
  struct Done {
    uint64_t conn;
    bool http;
    std::string reply;
  };

  // wake is called on the worker thread after each finished request.
  explicit CardWorker(std::function<void()> wake);
  // Drops what waits, lets a running operation end and joins the thread.
  ~CardWorker();
  CardWorker(const CardWorker &) = delete;
  CardWorker &operator=(const CardWorker &) = delete;

  // Queues req for connection conn (bytes: its text size). false, req
  // untouched, when a limit is reached.
  bool Submit(uint64_t conn, bool http, CardRequest &req, size_t bytes);
  // Drops the waiting requests of conn; one already running finishes.
  void Cancel(uint64_t conn);
  // Replies finished since the last call, in the order they finished.
  std::vector<Done> TakeDone();

 private:
  struct Job {
    uint64_t conn;
    bool http;
    size_t bytes;
    CardRequest req;
  };
  void Run();

  std::function<void()> wake_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<Job> queue_;
  std::unordered_map<uint64_t, size_t> perConn_;  // waiting requests per connection
  size_t bytes_ = 0;
  std::vector<Done> done_;
  bool stop_ = false;
  std::thread thread_;
};

#endif
