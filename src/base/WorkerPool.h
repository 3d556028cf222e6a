#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A fixed set of threads running posted tasks in the order they were posted, at most `limit` at
// a time. Built on the standard library's threads and locks, so ThreadSanitizer sees every
// hand-over. Destruction waits for the running tasks and drops the ones not yet started: cancel
// long ones first.
class WorkerPool {
public:
    explicit WorkerPool(int threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void post(std::function<void()> task);
    // How many tasks may run at once, from 1 to the number of threads; takes effect as tasks
    // are picked up.
    void setLimit(int limit);
    int threadCount() const { return static_cast<int>(threads_.size()); }
    // Tasks posted and not finished.
    std::size_t pending() const;

private:
    void run();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    std::vector<std::thread> threads_;
    int limit_;
    int active_ = 0;
    bool stopping_ = false;
};
