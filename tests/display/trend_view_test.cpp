// The trend's view on the virtual clock, on a canvas that only remembers what it was
// given: where the range lies while following, its limits, and how long rows that
// change no pixel wait. The window's own test covers the widgets.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "display/trend_view.h"
#include "support/harness.h"

namespace keldrin::test {
namespace {

using trend::TrendView;

constexpr std::int64_t kStart = 1796724000000;  // 2026-12-08 10:00:00.000 as the summaries count it

class PlainCanvas : public trend::Canvas {
public:
    std::pair<double, double> range{0, 5000};
    int paints = 0;
    int areaWidth() const override { return 1000; }
    int areaHeight() const override { return 400; }
    std::pair<double, double> shownRange() const override { return range; }
    int layOut(const trend::Picture& p) override {
        range = {p.from, p.to};
        return areaWidth();
    }
    void paint(const trend::Picture&) override { ++paints; }
};

class TrendViewTest : public ::testing::Test {
protected:
    TrendViewTest() { h.w.通用提供者1.setColumnCount(kRecordColumns); }
    // Rows 0.1 s apart from kStart on, channel 1 reading value.
    void record(int rows, const std::string& value = "5") {
        RecordStore& s = h.w.通用提供者1;
        for (int i = 0; i < rows; ++i) {
            s.appendRow();
            const int r = s.rowCount();
            s.setCell(r, 1, dateTimeText(kStart + static_cast<std::int64_t>(r - 1) * 100));
            s.setCell(r, 2, value);
        }
    }
    static std::string dateTimeText(std::int64_t ms) {
        char text[32];
        const std::int64_t s = ms / 1000 % 86400;
        std::snprintf(text, sizeof text, "2026-12-08 %02d:%02d:%02d.%03d", static_cast<int>(s / 3600),
                      static_cast<int>(s / 60 % 60), static_cast<int>(s % 60), static_cast<int>(ms % 1000));
        return text;
    }
    double newest() const { return static_cast<double>(kStart + (h.w.通用提供者1.rowCount() - 1) * 100 + 1); }

    Harness h;
    PlainCanvas canvas;
    TrendView view{h.w.通用提供者1, h.w, h.clock, canvas};
};

TEST_F(TrendViewTest, ANewRunStartsAtTheLeftEdgeUntilTheStretchIsFilled) {
    record(1200);  // two minutes
    ASSERT_TRUE(view.redrawIfChanged());
    EXPECT_EQ(view.picture().from, static_cast<double>(kStart));
    EXPECT_EQ(view.picture().to, static_cast<double>(kStart + TrendView::kTenMinutes));
    EXPECT_LT(view.picture().xs[0].front(), kStart + 1000.0);  // the line starts at the left edge

    record(4800);  // ten minutes all but the last row's 0.1 s: still filling
    view.redraw();
    EXPECT_EQ(view.picture().from, static_cast<double>(kStart));
    record(1200);  // twelve minutes: the newest row at the right edge
    view.redraw();
    EXPECT_EQ(view.picture().to, newest());
    EXPECT_EQ(view.picture().to - view.picture().from, TrendView::kTenMinutes);

    view.follow(TrendView::kAll);
    view.redraw();
    EXPECT_EQ(view.picture().from, static_cast<double>(kStart));
    EXPECT_EQ(view.picture().to, newest());
}

// While following, rows that change no pixel are drawn once they have waited a
// second, so that the statistics never lag further behind.
TEST_F(TrendViewTest, RowsThatChangeNoPixelWaitASecondAtMost) {
    record(7201);
    ASSERT_TRUE(view.redrawIfChanged());
    const int paints = canvas.paints;
    // The same value 0.1 s later, in the same pixel column: the range moves by a sixth
    // of a column.
    record(1);
    EXPECT_FALSE(view.redrawIfChanged());
    h.advance(TrendView::kLongestWaitMs);
    EXPECT_FALSE(view.redrawIfChanged());
    EXPECT_EQ(canvas.paints, paints);
    h.advance(1);
    EXPECT_TRUE(view.redrawIfChanged());
    EXPECT_EQ(view.picture().to, newest());  // the newest row drawn
    EXPECT_FALSE(view.redrawIfChanged());  // and only once
}

TEST_F(TrendViewTest, TheOperatorsRangeIsKeptWithinWhatCanBeShown) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        double from, to, expectFrom, expectTo;
    };
    const double maxHalf = TrendView::kMaxSpanMs / 2;
    const Case cases[] = {
        {kStart, kStart + 60000.0, kStart, kStart + 60000.0},          // kept as it is
        {kStart, kStart + 10.0, kStart - 495.0, kStart + 505.0},     // too narrow: a second around its middle
        {kStart, kStart - 10.0, kStart - 505.0, kStart + 495.0},     // reversed
        {kNaN, kNaN, -500, 500},                                     // not a range at all
        {-1e300, 1e300, -maxHalf, maxHalf},                          // wider than dates go
    };
    record(100);
    view.rangeChangedByOperator();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.from) + " .. " + std::to_string(c.to));
        canvas.range = {c.from, c.to};
        view.redraw();
        EXPECT_DOUBLE_EQ(view.picture().from, c.expectFrom);
        EXPECT_DOUBLE_EQ(view.picture().to, c.expectTo);
        EXPECT_FALSE(view.following());
    }
}

}  // namespace
}  // namespace keldrin::test
