#pragma once

#include "base/Mailbox.h"
#include "base/WorkerPool.h"

#include <QObject>

#include <atomic>
#include <memory>
#include <type_traits>

// Runs a piece of work on a worker thread and hands its result to a callback on the owner's
// thread. Only the newest run delivers: starting one cancels the one before (its work sees its
// cancel flag set, its result is dropped). Inline, work and callback run at once on the caller's
// thread. The work gets the cancel flag and must not touch the owner; the callback may.
class Background : public QObject {
public:
    explicit Background(QObject* parent = nullptr) : QObject(parent) {}
    ~Background() override { cancel(); }

    void setInline(bool on) { inline_ = on; }
    bool isInline() const { return inline_; }
    bool isRunning() const { return running_; }
    void cancel() {
        if (cancelled_)
            cancelled_->store(true);
        running_ = false;
        ++generation_;
    }

    template <class Work, class Done> void run(Work work, Done done) {
        cancel();
        cancelled_ = std::make_shared<std::atomic<bool>>(false);
        if (inline_) {
            done(work(*cancelled_));
            return;
        }
        using Result = std::invoke_result_t<Work&, const std::atomic<bool>&>;
        running_ = true;
        pool_.post([this, work = std::move(work), done = std::move(done), flag = cancelled_,
                    generation = generation_, back = mailbox_.sender()]() mutable {
            auto result = std::make_shared<Result>(work(*flag));
            // On the owner's thread, and only while this object lives.
            back.post([this, done = std::move(done), result, generation]() mutable {
                if (generation != generation_)
                    return;
                running_ = false;
                done(std::move(*result));
            });
        });
    }

private:
    bool inline_ = false;
    bool running_ = false;
    quint64 generation_ = 0;
    std::shared_ptr<std::atomic<bool>> cancelled_;
    Mailbox mailbox_;
    WorkerPool pool_{1}; // last: joined before the mailbox goes
};
