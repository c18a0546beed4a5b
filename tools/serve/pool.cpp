#include "serve/pool.h"

namespace bmpface::serve {

WorkPool::WorkPool(int workers, int queue)
    : limit_(static_cast<size_t>(workers) + static_cast<size_t>(queue)) {
  for (int i = 0; i < workers; ++i) threads_.emplace_back([this] { Work(); });
}

WorkPool::~WorkPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : threads_) t.join();
}

WorkPool::Result WorkPool::Run(std::function<void()> job, Clock::time_point deadline) {
  auto task = std::make_shared<Task>();
  task->job = std::move(job);
  std::unique_lock<std::mutex> lock(mutex_);
  // Abandoned tasks still queued count: they go as soon as a worker looks at them.
  if (tasks_.size() + static_cast<size_t>(busy_) >= limit_) return Result::kQueueFull;
  tasks_.push_back(task);
  wake_.notify_one();
  if (done_.wait_until(lock, deadline, [&] { return task->done; })) return Result::kDone;
  task->abandoned = true;
  return Result::kTimedOut;
}

int WorkPool::queued() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(tasks_.size());
}

int WorkPool::busy() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return busy_;
}

void WorkPool::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stopping_ || !tasks_.empty(); });
    if (tasks_.empty()) return;  // stopping, nothing left
    std::shared_ptr<Task> task = std::move(tasks_.front());
    tasks_.pop_front();
    if (task->abandoned) continue;
    ++busy_;
    lock.unlock();
    task->job();
    task->job = nullptr;  // what it owned goes now, not with the last reference
    lock.lock();
    --busy_;
    task->done = true;
    done_.notify_all();
  }
}

}  // namespace bmpface::serve
