#include "card_worker.h"

#include <utility>

#include "svc_log.h"

CardWorker::CardWorker(std::function<void()> wake) : wake_(std::move(wake)) {
  thread_ = std::thread([this] { Run(); });
}

CardWorker::~CardWorker() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
    queue_.clear();
  }
  cv_.notify_all();
  thread_.join();
}

bool CardWorker::Submit(uint64_t conn, bool http, CardRequest &req, size_t bytes) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    size_t &mine = perConn_[conn];
    if (mine >= kCardQueuePerConn || queue_.size() >= kCardQueueTotal || bytes_ + bytes > kCardQueueBytes) {
      if (mine == 0) perConn_.erase(conn);
      return false;
    }
    mine++;
    bytes_ += bytes;
    queue_.push_back(Job{conn, http, bytes, std::move(req)});
  }
  cv_.notify_one();
  return true;
}

void CardWorker::Cancel(uint64_t conn) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = perConn_.find(conn);
  if (it == perConn_.end()) return;
  for (auto j = queue_.begin(); j != queue_.end();) {
    if (j->conn == conn) {
      bytes_ -= j->bytes;
      j = queue_.erase(j);
    } else {
      ++j;
    }
  }
  perConn_.erase(it);
}

std::vector<CardWorker::Done> CardWorker::TakeDone() {
  std::vector<Done> out;
  std::lock_guard<std::mutex> lock(mu_);
  out.swap(done_);
  return out;
}

void CardWorker::Run() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    cv_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    if (stop_) return;
    Job job = std::move(queue_.front());
    queue_.pop_front();
    bytes_ -= job.bytes;
    auto it = perConn_.find(job.conn);
    if (it != perConn_.end() && --it->second == 0) perConn_.erase(it);
    lock.unlock();

    std::string reply, errMsg;
    RunCardRequest(job.req, reply, errMsg);
    if (job.http)
      LogHttpReply(reply);
    else
      SvcLog("\r\nWebsocket返回数据(GBK): %s, nlen = %d\n", reply.c_str(), static_cast<int>(reply.size()));

    lock.lock();
    done_.push_back(Done{job.conn, job.http, std::move(reply)});
    lock.unlock();
    wake_();
    lock.lock();
  }
}
