// The window's bus worker: runs one bus exchange at a time (load, Update,
// the saves, restore, the reboot wait) on a thread of its own, so the
// window's thread never waits for the bus. The result comes back as a queued
// call on the worker object's thread (the GUI thread), after busyChanged.
//
// The exchange gets copies of what it needs and hands back what it made; it
// never touches widgets or the window's own configuration model.
#pragma once

#include <QObject>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace vk61 {

class BusWorker : public QObject {
    Q_OBJECT

public:
    explicit BusWorker(QObject* parent = nullptr) : QObject(parent) {}
    // Stops the running exchange and waits for its thread; the owner has
    // disconnected the link first, so every bus wait of it ends at once.
    ~BusWorker() override { stopAndWait(); }

    bool busy() const { return thread_ != nullptr; }
    // Whether the running exchange ends early when cancel() is called.
    bool cancellable() const { return busy() && cancellable_; }

    // Runs work(stop) on a new thread, then done(result) on this object's
    // thread. One exchange at a time: returns false, and runs nothing, while
    // one runs. work must end promptly once stop is set or the link is
    // disconnected.
    template <typename Result>
    bool run(std::function<Result(const std::atomic<bool>& stop)> work, std::function<void(Result)> done,
             bool cancellable = false) {
        if (busy()) return false;
        stop_ = false;
        cancellable_ = cancellable;
        auto result = std::make_shared<std::optional<Result>>();
        QThread* thread = QThread::create([this, work = std::move(work), result] { result->emplace(work(stop_)); });
        thread_ = thread;
        // finished is emitted on the worker thread: queued to this object.
        connect(thread, &QThread::finished, this, [this, thread, result, done = std::move(done)] {
            if (thread_ != thread) return;  // stopAndWait took it over
            thread->wait();
            delete thread;
            thread_ = nullptr;
            emit busyChanged(false);
            done(std::move(**result));
        });
        thread->start();
        emit busyChanged(true);
        return true;
    }

    // Asks a cancellable exchange to end at its next step.
    void cancel();

    // Asks the running exchange to stop, waits for its thread and drops its
    // result.
    void stopAndWait();

signals:
    void busyChanged(bool busy);

private:
    QThread* thread_ = nullptr;  // GUI thread only
    bool cancellable_ = false;
    std::atomic<bool> stop_{false};  // set on the GUI thread, read by the exchange
};

}  // namespace vk61
