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
