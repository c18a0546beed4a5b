// The workers that run pictures, apart from the threads that talk to clients: a slow client holds
// a connection, never a worker. A bounded queue before them; a request that finds it full is
// refused at once, one that waits past its deadline is answered without its result.
#ifndef BMPFACE_TOOLS_SERVE_POOL_H_
#define BMPFACE_TOOLS_SERVE_POOL_H_

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace bmpface::serve {

class WorkPool {
 public:
  using Clock = std::chrono::steady_clock;
  enum class Result { kDone, kQueueFull, kTimedOut };

  WorkPool(int workers, int queue);
  // Runs what is queued, then joins the workers.
  ~WorkPool();
  WorkPool(const WorkPool&) = delete;
  WorkPool& operator=(const WorkPool&) = delete;

  // Runs `job` on a worker and waits for it until `deadline`. The job must own what it uses: past
  // the deadline the caller goes on while a job already started runs to its end (one not started
  // is dropped).
  Result Run(std::function<void()> job, Clock::time_point deadline);

  int queued() const;
  int busy() const;

 private:
  struct Task {
    std::function<void()> job;
    bool done = false;
    bool abandoned = false;
  };
  void Work();

  const size_t limit_;  // tasks running and waiting
  mutable std::mutex mutex_;
  std::condition_variable wake_;  // workers: a task or the end
  std::condition_variable done_;  // callers: a task finished
  std::deque<std::shared_ptr<Task>> tasks_;
  int busy_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace bmpface::serve

#endif  // BMPFACE_TOOLS_SERVE_POOL_H_
