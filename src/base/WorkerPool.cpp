#include "base/WorkerPool.h"

#include <algorithm>

WorkerPool::WorkerPool(int threads) : limit_(std::max(1, threads)) {
    for (int i = 0; i < std::max(1, threads); ++i)
        threads_.emplace_back([this] { run(); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    wake_.notify_all();
    for (std::thread& t : threads_)
        t.join();
}

void WorkerPool::post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_)
            return;
        queue_.push_back(std::move(task));
    }
    wake_.notify_one();
}

void WorkerPool::setLimit(int limit) {
    {
        std::lock_guard lock(mutex_);
        limit_ = std::clamp(limit, 1, static_cast<int>(threads_.size()));
    }
    wake_.notify_all();
}

std::size_t WorkerPool::pending() const {
    std::lock_guard lock(mutex_);
    return queue_.size() + static_cast<std::size_t>(active_);
}

void WorkerPool::run() {
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return stopping_ || (!queue_.empty() && active_ < limit_); });
        if (stopping_)
            return;
        std::function<void()> task = std::move(queue_.front());
        queue_.pop_front();
        ++active_;
        lock.unlock();
        task();
        task = nullptr; // what it captured goes now, not under the lock
        lock.lock();
        --active_;
        wake_.notify_all();
    }
}
