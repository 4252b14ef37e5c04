#include "platform/dispatcher.h"

namespace keldrin {

void Dispatcher::drain() {
    while (pausing_ == 0 && !queue_.empty()) {
        std::function<void()> event = std::move(queue_.front());
        queue_.pop_front();
        if (event) event();
    }
}

void Dispatcher::pause(int ms) {
    if (ms <= 0 || !pauser_) return;
    ++pausing_;
    pauser_->waitFor(ms);
    --pausing_;
}

}  // namespace keldrin
