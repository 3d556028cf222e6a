#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

// Hands work from any thread back to the thread that owns the mailbox: post() queues a function
// under a standard lock and wakes the owner's event loop through an eventfd; the owner runs the
// functions in the order they were posted. Posting after the mailbox is gone does nothing, so a
// worker may outlive its receiver.
class Mailbox : public QObject {
    Q_OBJECT
public:
    class Queue;
    // A handle workers keep; posting through it is safe from any thread at any time.
    class Sender {
    public:
        void post(std::function<void()> f) const;

    private:
        friend class Mailbox;
        std::shared_ptr<Queue> queue_;
    };

    explicit Mailbox(QObject* parent = nullptr);
    ~Mailbox() override;

    Sender sender() const;
    void post(std::function<void()> f) const { sender().post(std::move(f)); }
    // Runs what has arrived, now (for callers that wait in a loop of their own).
    void deliver();

private:
    std::shared_ptr<Queue> queue_;
    QSocketNotifier* notifier_ = nullptr;
};
