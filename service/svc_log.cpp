#include "svc_log.h"

#include <errno.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

namespace {

struct LogQueue {
  std::mutex mu;
  std::condition_variable wake;     // text queued
  std::condition_variable drained;  // queue empty and nothing being written
  std::string pending;
  unsigned long dropped = 0;
  bool writing = false;
  bool started = false;
};

// Never destroyed: the writer may still run while the process exits.
LogQueue &Queue() {
  static LogQueue *q = new LogQueue;
  return *q;
}

// A reader that has gone (EPIPE; SIGPIPE is ignored by the program) or any
// other failure loses the text, as a terminal that was closed would.
void WriteAll(const std::string &text) {
  size_t off = 0;
  while (off < text.size()) {
    ssize_t n = write(STDOUT_FILENO, text.data() + off, text.size() - off);
    if (n > 0) {
      off += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return;
    }
  }
}

void Writer() {
  LogQueue &q = Queue();
  std::string batch;
  std::unique_lock<std::mutex> lock(q.mu);
  for (;;) {
    q.wake.wait(lock, [&] { return !q.pending.empty(); });
    batch.swap(q.pending);
    q.writing = true;
    lock.unlock();
    WriteAll(batch);
    batch.clear();
    lock.lock();
    q.writing = false;
    if (q.pending.empty()) q.drained.notify_all();
  }
}

}  // namespace

void SvcLog(const char *fmt, ...) {
  char stack[1024];
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(stack, sizeof stack, fmt, ap);
  va_end(ap);
  if (n <= 0) return;
  std::string heap;
  const char *text = stack;
  if (static_cast<size_t>(n) >= sizeof stack) {
    heap.resize(static_cast<size_t>(n) + 1);
    va_start(ap, fmt);
    vsnprintf(&heap[0], heap.size(), fmt, ap);
    va_end(ap);
    text = heap.data();
  }
  const size_t len = static_cast<size_t>(n);

  LogQueue &q = Queue();
  std::lock_guard<std::mutex> lock(q.mu);
  if (q.pending.size() + len > kSvcLogQueueBytes) {
    q.dropped++;
    return;
  }
  if (q.dropped > 0) {
    char note[96];
    int m = snprintf(note, sizeof note, "\n[log] %lu lines dropped: standard output was not read\n",
                     q.dropped);
    if (q.pending.size() + len + static_cast<size_t>(m) > kSvcLogQueueBytes) {
      q.dropped++;
      return;
    }
    q.pending.append(note, static_cast<size_t>(m));
    q.dropped = 0;
  }
  // A writer busy with earlier text takes this with it on its next round.
  const bool idle = q.pending.empty();
  q.pending.append(text, len);
  if (!q.started) {
    q.started = true;
    std::thread(Writer).detach();
  }
  if (idle) q.wake.notify_one();
}

bool SvcLogFlush(int wait_ms) {
  LogQueue &q = Queue();
  std::unique_lock<std::mutex> lock(q.mu);
  return q.drained.wait_for(lock, std::chrono::milliseconds(wait_ms),
                            [&] { return q.pending.empty() && !q.writing; });
}
