// When a reading stops being a measurement, on the virtual clock: three polling rounds,
// at least 2 s, and nothing from before the last 启动.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "shell/freshness.h"
#include "support/harness.h"

namespace keldrin::test {
namespace {

// Probe 1's answer (address 1, channel 28): 1.000.
const std::vector<std::uint8_t> kProbe1{0x00, 0x01, 0x1C, 0x06, 0x00, 0x00, 0x03, 0xE8, 0x00, 0x00, 0x00, 0x00};

struct Fresh : ::testing::Test {
    Harness h;
    void SetUp() override { h.startConnected(); }
    void tickFirst(int n) {
        for (int i = 1; i <= 8; ++i) h.w.选择框(i).setChecked(i <= n);
    }
    bool stale() { return staleChannels(h.app)[1]; }
};

TEST_F(Fresh, AReadingIsCurrentForThreeRoundsOfPollingAndAtLeastTwoSeconds) {
    const struct {
        int ticked;
        const char* interval;
        std::int64_t age;
        bool stale;
    } rows[] = {
        {1, "200", 2000, false},  {1, "200", 2001, true},   // 0.6 s of rounds: the floor holds
        {8, "200", 4800, false},  {8, "200", 4801, true},   // 8 × 200 ms × 3
        {3, "1000", 9000, false}, {3, "1000", 9001, true},
        {8, "0", 2001, true},                               // polling stopped
        {8, "-50", 2001, true},
    };
    h.click(h.w.启动);
    for (const auto& r : rows) {
        tickFirst(r.ticked);
        h.type(h.w.间隔时间, r.interval);
        h.port.receive(kProbe1);
        ASSERT_FALSE(stale());
        h.advance(r.age);
        EXPECT_EQ(stale(), r.stale) << r.ticked << " × " << r.interval << " ms, " << r.age << " ms old";
    }
}

TEST_F(Fresh, ANewStartOrAChangedIntervalIsTakenAtOnce) {
    tickFirst(8);
    EXPECT_TRUE(stale());  // never read
    h.click(h.w.启动);
    h.port.receive(kProbe1);
    h.advance(3000);
    EXPECT_FALSE(stale());
    h.type(h.w.间隔时间, "100");  // rounds of 0.8 s: 3 s is too old now
    EXPECT_TRUE(stale());
    h.type(h.w.间隔时间, "1000");
    EXPECT_FALSE(stale());

    // A reading from before a pause is not one of the new run.
    h.click(h.w.启动);
    h.advance(500);
    h.click(h.w.启动);
    EXPECT_TRUE(stale());
    h.port.receive(kProbe1);
    EXPECT_FALSE(stale());
}

TEST_F(Fresh, RowsHoldGapsWhereAProbeFellSilentNeverItsLastValueAgain) {
    AnsweringProbes probes(h);
    tickFirst(2);
    h.choose(h.w.组合框3, 0);  // "0.1秒"
    h.advance(500);
    h.click(h.w.启动);
    h.advance(1000);
    probes.silent.insert(2);
    const int silentFrom = h.w.通用提供者1.rowCount();
    h.advance(5000);
    probes.silent.clear();
    h.advance(1000);
    RecordStore& t = h.w.通用提供者1;
    ASSERT_GE(t.rowCount(), silentFrom + 55);
    // Channel 2 answers every 400 ms: rounds of 0.4 s make 1.2 s, raised to 2 s. Its
    // last answer is recorded for 2 s at most (20 rows), then every silent row is a gap.
    int gaps = 0, run = 0, longestRun = 0;
    std::string previous;
    for (int r = silentFrom + 1; r <= t.rowCount(); ++r) {
        EXPECT_NE(t.cell(r, 2), "") << r;
        const std::string c(t.cell(r, 3));
        gaps += c.empty() ? 1 : 0;
        run = !c.empty() && c == previous ? run + 1 : 1;
        longestRun = std::max(longestRun, run);
        previous = c;
    }
    EXPECT_LE(longestRun, 20);
    EXPECT_GE(gaps, 29);
    EXPECT_LE(gaps, 35);
    EXPECT_NE(t.cell(t.rowCount(), 3), "");
}

}  // namespace
}  // namespace keldrin::test
