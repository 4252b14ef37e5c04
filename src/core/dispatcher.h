#pragma once
// One handler at a time. Every event (tick, received byte, click, edit) is queued and
// run in order. A handler that pauses blocks every other handler: events that come
// due during the pause wait in the queue and run after the handler has returned.
// A handler that waits in a modal box or dialog does not block: events run nested
// inside it, still one at a time and in order.
#include <cstddef>
#include <deque>
#include <functional>
#include <vector>

namespace keldrin {

class Pauser {
public:
    virtual ~Pauser() = default;
    // Lets ms milliseconds pass; events that arrive meanwhile are posted to the
    // dispatcher (which only queues them while a pause is in progress).
    virtual void waitFor(int ms) = 0;
};

class Dispatcher {
public:
    // Identifies a source whose waiting events coalesce (a timer, the serial port).
    using Key = const void*;

    void setPauser(Pauser* p) { pauser_ = p; }

    void enqueue(std::function<void()> event) { queue_.push_back({std::move(event), nullptr}); }
    // Queues event unless one from the same source is still waiting. A timer whose
    // ticks came due during a pause thus ticks once afterwards, as platform timers do,
    // instead of once per missed interval.
    void enqueueOnce(Key source, std::function<void()> event);
    // Runs queued events in order, unless a pause is in progress.
    void drain();
    void post(std::function<void()> event) {
        enqueue(std::move(event));
        drain();
    }
    void postOnce(Key source, std::function<void()> event) {
        enqueueOnce(source, std::move(event));
        drain();
    }

    // Called by handlers: blocks the running handler for ms milliseconds.
    void pause(int ms);

    std::size_t queued() const { return queue_.size(); }

private:
    struct Event {
        std::function<void()> run;
        Key source;
    };
    std::deque<Event> queue_;
    std::vector<Key> waiting_;  // sources with an event in queue_: a handful at most
    Pauser* pauser_ = nullptr;
    int pausing_ = 0;
};

}  // namespace keldrin
