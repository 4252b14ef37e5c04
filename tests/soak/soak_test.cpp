// A day of acquisition on the virtual clock against the simulated receiver box, with a
// share of answers dropped or corrupted: no record is lost, the stream keeps realigning,
// and nothing but the record table grows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

#include "sim/box.h"
#include "support/harness.h"
#include "support/process_memory.h"

namespace keldrin::test {
namespace {

long residentKb() { return statusKb("VmRSS:"); }

struct Soak {
    Harness h;
    sim::Box box;
    std::int64_t recordTicks = 0;
    int worstSilence = 0;

    explicit Soak(sim::Options options) : box(options) {
        h.port.peer = [this](std::span<const std::uint8_t> bytes) {
            for (sim::Chunk& c : box.feed(bytes, h.time.now(), h.port.baudRate())) {
                h.port.receiveAt(c.dueMs, std::move(c.bytes));
            }
        };
        h.startConnected();
        auto record = h.w.时钟5.tick;
        h.w.时钟5.tick = [this, record] {
            if (h.app.acquiring()) ++recordTicks;
            record();
        };
        auto watchdog = h.w.时钟4清屏.tick;
        h.w.时钟4清屏.tick = [this, watchdog] {
            worstSilence = std::max(worstSilence, h.g.silenceTicks);
            watchdog();
        };
        h.click(h.w.按钮1);           // all eight probes
        h.choose(h.w.组合框3, 0);     // "0.1秒"
        h.advance(1000);
        h.click(h.w.启动);
    }
};

TEST(Soak, ADayAtATenthOfASecondLosesNoRecord) {
    sim::Options options;
    options.faults.drop = 0.01;
    options.faults.corrupt = 0.01;
    Soak s(options);
    Harness& h = s.h;

    constexpr std::int64_t kHour = 3600 * 1000;
    // The fakes log every byte sent; that log is the test's, not the program's.
    auto forgetLogs = [&h] {
        h.port.sent.clear();
        h.port.sent.shrink_to_fit();
        h.port.events.clear();
        h.port.events.shrink_to_fit();
    };
    h.advance(kHour);
    forgetLogs();
    long rssAfterHour = residentKb();
    std::size_t storeAfterHour = h.w.通用提供者1.memoryBytes();
    for (int hour = 1; hour < 24; ++hour) {
        h.advance(kHour);
        forgetLogs();
        ASSERT_LE(h.w.编辑框接收.text().size(), h.w.编辑框接收.textLimit());
        ASSERT_LT(h.g.receiveBuffer.size(), 12u);
        ASSERT_EQ(h.dispatcher.queued(), 0u);
    }
    long rssAfterDay = residentKb();
    std::size_t storeAfterDay = h.w.通用提供者1.memoryBytes();

    int rows = h.w.通用提供者1.rowCount();
    EXPECT_EQ(rows, s.recordTicks);
    EXPECT_GE(rows, 864000 - 10);
    // Every record holds a reading of every ticked channel, once each has answered.
    for (int r : {20, rows / 2, rows}) {
        for (int c = 2; c <= 9; ++c) EXPECT_FALSE(h.w.通用提供者1.cell(r, c).empty()) << r << "," << c;
    }
    // Dropped and corrupted answers cost a poll each; the stream never stays misaligned.
    std::int64_t polls = h.g.sentFrameCount;
    EXPECT_GT(polls, 430000);
    EXPECT_LE(s.worstSilence, 12);
    // Besides the table, nothing grows over the day (allowing for allocator slack).
    long besidesStore = (rssAfterDay - rssAfterHour) - static_cast<long>((storeAfterDay - storeAfterHour) / 1024);
#ifndef __SANITIZE_ADDRESS__  // the sanitizer's quarantine and shadow make RSS meaningless
    EXPECT_LT(besidesStore, 8 * 1024);
#endif
    std::printf("soak: %d rows, %lld polls, %lld frames, worst silence %d ticks, "
                "store %zu -> %zu bytes, RSS %ld -> %ld kB (besides the store: %+ld kB)\n",
                rows, static_cast<long long>(polls), static_cast<long long>(h.g.receivedFrameCount),
                s.worstSilence, storeAfterHour, storeAfterDay, rssAfterHour, rssAfterDay, besidesStore);
}

}  // namespace
}  // namespace keldrin::test
