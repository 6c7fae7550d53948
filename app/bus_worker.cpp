#include "bus_worker.h"

namespace vk61 {

void BusWorker::cancel() {
    if (cancellable()) stop_ = true;
}

void BusWorker::stopAndWait() {
    QThread* thread = thread_;
    if (thread == nullptr) return;
    thread_ = nullptr;
    stop_ = true;
    thread->disconnect(this);
    thread->wait();
    delete thread;
}

}  // namespace vk61
