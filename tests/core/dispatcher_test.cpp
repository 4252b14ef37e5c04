// One handler at a time: pauses hold other events back, modal boxes do not.
#include <gtest/gtest.h>

#include "support/harness.h"

namespace keldrin::test {
namespace {

TEST(Dispatcher, EventsDueDuringAPauseRunAfterTheHandlerInOrderMissedTicksOnce) {
    Harness h;
    std::vector<std::string> log;
    for (Timer* t : h.w.timers()) t->setInterval(0);
    h.port.devices = {3};
    h.port.open();
    h.port.connectBytes(h.dispatcher, [&](int b) {
        log.push_back("byte " + std::to_string(b) + " at " + std::to_string(h.time.now()));
        if (b == 1) h.app.pause(100);
    });
    h.port.receiveAt(10, {1, 2});
    h.port.receiveAt(50, {3});
    h.w.时钟1.setInterval(40);
    h.w.时钟1.tick = [&] { log.push_back("tick at " + std::to_string(h.time.now())); };
    h.advance(150);
    // Received bytes are handed over in one run; the two ticks missed during the
    // pause come as one, as a platform timer's do.
    EXPECT_EQ(log, (std::vector<std::string>{"byte 1 at 10", "byte 2 at 110", "byte 3 at 110", "tick at 110",
                                             "tick at 120"}));
}

TEST(Dispatcher, EventsRunNestedWhileAHandlerWaitsInAModalBox) {
    Harness h;
    for (Timer* t : h.w.timers()) t->setInterval(0);
    int ticksDuringBox = 0;
    h.w.时钟1.tick = [&] { ++ticksDuringBox; };
    h.w.时钟1.setInterval(50);
    h.boxes.whileOpen = [&] { h.advance(1000); };
    h.dispatcher.post([&] { h.boxes.show("x", Buttons::Ok, Icon::None, ""); });
    EXPECT_EQ(ticksDuringBox, 20);
}

}  // namespace
}  // namespace keldrin::test

namespace keldrin {
namespace {

struct BacklogPort : SerialPort {
    using SerialPort::deliver;
    void setPortNumber(int) override {}
    int portNumber() const override { return 0; }
    void setBaudRate(int) override {}
    int baudRate() const override { return 0; }
    bool open() override { return true; }
    void close() override {}
    bool isOpen() const override { return true; }
    void send(std::span<const std::uint8_t>) override {}
    bool canOpen(int) override { return true; }
};

struct FeedingPause : Pauser {
    std::function<void()> feed;
    void waitFor(int) override { feed(); }
};

// Past the backlog's bound the oldest bytes go, and exactly as many as overflowed: what
// is handed over is the newest kBacklogLimit bytes, in order.
TEST(SerialBacklog, OverflowDropsTheOldestBytesAndCountsThem) {
    Dispatcher d;
    FeedingPause pause;
    d.setPauser(&pause);
    BacklogPort port;
    std::vector<int> got;
    port.connectBytes(d, [&](int b) { got.push_back(b); });
    std::vector<std::uint8_t> bytes(SerialPort::kBacklogLimit + 10);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
    pause.feed = [&] { port.deliver(bytes); };  // arrives while a handler pauses
    d.post([&] { d.pause(1); });
    EXPECT_EQ(port.overflowedBytes(), 10u);
    ASSERT_EQ(got.size(), SerialPort::kBacklogLimit);
    for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], bytes[i + 10]) << i;
}

}  // namespace
}  // namespace keldrin
