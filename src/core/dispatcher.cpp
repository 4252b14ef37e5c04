#include "core/dispatcher.h"

#include <algorithm>

namespace keldrin {

void Dispatcher::enqueueOnce(Key source, std::function<void()> event) {
    if (std::find(waiting_.begin(), waiting_.end(), source) != waiting_.end()) return;
    waiting_.push_back(source);
    queue_.push_back({std::move(event), source});
}

void Dispatcher::drain() {
    while (pausing_ == 0 && !queue_.empty()) {
        Event event = std::move(queue_.front());
        queue_.pop_front();
        // Released before it runs: what comes due while it runs is a new event.
        if (event.source) std::erase(waiting_, event.source);
        if (event.run) event.run();
    }
}

void Dispatcher::pause(int ms) {
    if (ms <= 0 || !pauser_) return;
    ++pausing_;
    pauser_->waitFor(ms);
    --pausing_;
}

}  // namespace keldrin
