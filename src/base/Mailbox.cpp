#include "base/Mailbox.h"

#include <QSocketNotifier>

#include <cstdint>
#include <deque>
#include <mutex>
#include <sys/eventfd.h>
#include <unistd.h>

class Mailbox::Queue {
public:
    Queue() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~Queue() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int fd() const { return fd_; }

    void post(std::function<void()> f) {
        {
            std::lock_guard lock(mutex_);
            if (closed_)
                return;
            items_.push_back(std::move(f));
        }
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(fd_, &one, sizeof one);
    }
    std::deque<std::function<void()>> take() {
        std::uint64_t count;
        [[maybe_unused]] const auto got = ::read(fd_, &count, sizeof count);
        std::lock_guard lock(mutex_);
        return std::exchange(items_, {});
    }
    void close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        items_.clear();
    }

private:
    int fd_;
    std::mutex mutex_;
    std::deque<std::function<void()>> items_;
    bool closed_ = false;
};

void Mailbox::Sender::post(std::function<void()> f) const {
    if (queue_)
        queue_->post(std::move(f));
}

Mailbox::Mailbox(QObject* parent) : QObject(parent), queue_(std::make_shared<Queue>()) {
    if (queue_->fd() >= 0) {
        notifier_ = new QSocketNotifier(queue_->fd(), QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &Mailbox::deliver);
    }
}

Mailbox::~Mailbox() {
    queue_->close();
}

Mailbox::Sender Mailbox::sender() const {
    Sender s;
    s.queue_ = queue_;
    return s;
}

void Mailbox::deliver() {
    for (auto& f : queue_->take())
        f();
}
