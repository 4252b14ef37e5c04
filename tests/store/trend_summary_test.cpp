// The trend's summaries against brute force: for random tables (gaps, non-numbers,
// repeated and backward times, rows without a time), every pixel column of many views
// holds exactly what the rows falling into it hold, while rows are appended and after
// the table is replaced.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "store/record_store.h"
#include "store/table_file.h"
#include "store/trend_summary.h"

namespace keldrin::trend {
namespace {

std::string timeText(std::int64_t ms) {
    // Within one year of 2026: enough for the generator, and read back by parseTime.
    const std::int64_t day = ms / 86400000, inDay = ms % 86400000;
    char buf[40];
    std::snprintf(buf, sizeof buf, "2026-%02d-%02d %02d:%02d:%02d.%03d", static_cast<int>(day / 28 % 12) + 1,
                  static_cast<int>(day % 28) + 1, static_cast<int>(inDay / 3600000),
                  static_cast<int>(inDay / 60000 % 60), static_cast<int>(inDay / 1000 % 60),
                  static_cast<int>(inDay % 1000));
    return buf;
}

class Table {
public:
    explicit Table(std::uint32_t seed) : rng_(seed) {}

    void appendRow(RecordStore& s) {
        s.appendRow();
        const int r = s.rowCount();
        s.setCell(r, 1, nextTime());
        for (int c = 2; c <= 9; ++c) {
            // Column 9 is never ticked; column 8 is mostly silent.
            if (c == 9 || (c == 8 && pick(10) != 0)) continue;
            s.setCell(r, c, nextValue(c));
        }
    }

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

    std::string nextTime() {
        switch (pick(200)) {
            case 0: return "";                      // no time at all
            case 1: return "2026-13-01 00:00:00";   // not a date
            case 2: t_ -= pick(100000); break;      // back in time
            case 3: t_ += 3600000 * (1 + pick(5)); break;  // recording paused
            case 4: case 5: case 6: break;                 // the same time again
            default: t_ += 100; break;
        }
        return timeText(t_);
    }

    std::string nextValue(int c) {
        switch (pick(60)) {
            case 0: return "abc";
            case 1: return "1.2.3";
            case 2: return "nan";
            case 3: return "12x";
            case 4: case 5: case 6: return "";
            case 7: return std::to_string(pick(2) ? 9000 + pick(1000) : -9000 - pick(1000));  // a spike
            default: break;
        }
        level_[c] += (pick(2001) - 1000) / 1000.0;
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.3f", level_[c]);
        return buf;
    }

    std::mt19937 rng_;
    std::int64_t t_ = 100LL * 86400000;
    double level_[10] = {};
};

// What a pixel column holds, found by reading every row.
std::vector<Span> bruteForce(const RecordStore& s, const Columns& cols) {
    std::vector<Span> out(static_cast<std::size_t>(cols.width()) * kLines);
    for (int r = 1; r <= s.rowCount(); ++r) {
        const std::optional<std::int64_t> t = parseTime(s.cell(r, 1));
        if (!t) continue;
        const int c = cols.of(*t);
        if (c < 0 || c >= cols.width()) continue;
        for (int i = 0; i < kLines; ++i) {
            Span& span = out[static_cast<std::size_t>(c) * kLines + i];
            if (const std::optional<float> v = parseValue(s.cell(r, 2 + i))) span.add(*v);
            else span.addGap();
        }
    }
    return out;
}

std::optional<std::pair<std::int64_t, std::int64_t>> bruteSpan(const RecordStore& s) {
    std::optional<std::pair<std::int64_t, std::int64_t>> span;
    for (int r = 1; r <= s.rowCount(); ++r) {
        if (const std::optional<std::int64_t> t = parseTime(s.cell(r, 1))) {
            if (!span) span = std::make_pair(*t, *t);
            span->first = std::min(span->first, *t);
            span->second = std::max(span->second, *t);
        }
    }
    return span;
}

void expectSame(const std::vector<Span>& got, const std::vector<Span>& want, const std::string& where) {
    ASSERT_EQ(got.size(), want.size()) << where;
    for (std::size_t k = 0; k < got.size(); ++k) {
        const Span& g = got[k];
        const Span& w = want[k];
        SCOPED_TRACE(where + " column " + std::to_string(k / kLines) + " line " + std::to_string(k % kLines));
        ASSERT_EQ(g.count, w.count);
        ASSERT_EQ(g.gapBefore, w.gapBefore);
        ASSERT_EQ(g.gapAfter, w.gapAfter);
        if (w.count == 0) continue;
        ASSERT_EQ(g.min, w.min);
        ASSERT_EQ(g.max, w.max);
        ASSERT_EQ(g.first, w.first);
        ASSERT_EQ(g.last, w.last);
        ASSERT_NEAR(g.sum, w.sum, 1e-9 * (1 + std::abs(w.sum)) * w.count);
    }
}

// Views of the whole table and of parts of it, at several widths, edges on rows.
void checkViews(const RecordStore& s, TrendSummary& summary, std::mt19937& rng, const std::string& where) {
    summary.update();
    const auto span = bruteSpan(s);
    ASSERT_EQ(summary.timeSpan(), span) << where;
    if (!span) return;
    const double lo = static_cast<double>(span->first), hi = static_cast<double>(span->second);
    std::vector<std::pair<double, double>> views = {
        {lo, hi + 1},                          // everything
        {lo - 5000, hi + 5000},                // more than everything
        {lo, lo + 1000},                       // a second at the start
        {hi - 60000, hi + 1},                  // the last minute, as when following
        {hi + 1, hi + 100000},                 // after the last row
    };
    std::uniform_real_distribution<double> at(lo - 1000, hi + 1000);
    for (int k = 0; k < 4; ++k) {
        double a = at(rng), b = at(rng);
        if (a > b) std::swap(a, b);
        views.emplace_back(std::floor(a), std::floor(b) + 1);  // edges on whole milliseconds, as row times are
    }
    std::vector<Span> got;
    for (const auto& [from, to] : views) {
        for (int width : {1, 7, 333, 1000, 1920}) {
            const Columns cols(from, to, width);
            summary.columns(cols, got);
            expectSame(got, bruteForce(s, cols),
                       where + " view " + std::to_string(from) + ".." + std::to_string(to) + " width " +
                           std::to_string(width));
            if (::testing::Test::HasFatalFailure()) return;
        }
    }
}

TEST(TrendSummary, EveryPixelColumnHoldsExactlyWhatItsRowsHold) {
    for (std::uint32_t seed : {1u, 2u, 3u}) {
        std::mt19937 rng(seed);
        Table table(seed);
        RecordStore s;
        s.setColumnCount(9);
        TrendSummary summary(s);
        // Sizes around the block edges, and a few thousand rows past the upper blocks'.
        const int sizes[] = {0, 1, 63, 64, 65, 4095, 4097, 9000 + static_cast<int>(seed) * 1500};
        for (int size : sizes) {
            while (s.rowCount() < size) {
                table.appendRow(s);
                if (s.rowCount() % 997 == 0) summary.update();  // as the window's redraws would
            }
            checkViews(s, summary, rng, "seed " + std::to_string(seed) + " rows " + std::to_string(size));
            if (HasFatalFailure()) return;
        }

        // The same rows read from a table file into a table already summarised.
        std::string bytes;
        ASSERT_TRUE(tablefile::write(s, [&bytes](std::string_view b) {
            bytes += b;
            return true;
        }));
        RecordStore read;
        read.setColumnCount(9);
        TrendSummary readSummary(read);
        Table(seed + 100).appendRow(read);
        readSummary.update();
        ASSERT_EQ(tablefile::read(std::move(bytes), read), tablefile::Refusal::None);
        checkViews(read, readSummary, rng, "read seed " + std::to_string(seed));
        if (HasFatalFailure()) return;

        // Emptied, then recorded into again.
        s.setRowCount(0);
        s.setColumnCount(9);
        checkViews(s, summary, rng, "emptied");
        for (int i = 0; i < 200; ++i) table.appendRow(s);
        checkViews(s, summary, rng, "after emptying");
    }
}

TEST(TrendSummary, LinesBreakAtGapsAndKeepEveryColumnsExtremes) {
    RecordStore s;
    s.setColumnCount(9);
    // One row a second; a column a second: 1, 2, gap, 4, not a number, 6, then a
    // column of three rows 7, -50, 9.
    const char* values[] = {"1", "2", "", "4", "x", "6"};
    std::int64_t t = 0;
    for (const char* v : values) {
        s.appendRow();
        s.setCell(s.rowCount(), 1, timeText(t += 1000));
        s.setCell(s.rowCount(), 2, v);
    }
    for (const char* v : {"7", "-50", "9"}) {
        s.appendRow();
        s.setCell(s.rowCount(), 1, timeText(t + 1000));
        s.setCell(s.rowCount(), 2, v);
    }
    TrendSummary summary(s);
    summary.update();
    const auto span = summary.timeSpan();
    ASSERT_TRUE(span);
    const Columns cols(static_cast<double>(span->first), static_cast<double>(span->second + 1000), 7);
    std::vector<Span> spans;
    summary.columns(cols, spans);
    std::vector<double> xs, ys;
    linePoints(spans, cols, 0, xs, ys);
    std::vector<std::string> drawn;
    for (double y : ys) drawn.push_back(std::isnan(y) ? "gap" : std::to_string(static_cast<int>(y)));
    EXPECT_EQ(drawn, (std::vector<std::string>{"1", "2", "gap", "4", "gap", "6", "7", "-50", "9"}));
    // A line with no value at all draws nothing.
    linePoints(spans, cols, 1, xs, ys);
    EXPECT_TRUE(xs.empty());
    const Span all = total(spans, cols.width(), 0);
    EXPECT_EQ(all.count, 7u);
    EXPECT_EQ(all.min, -50);
    EXPECT_EQ(all.max, 9);
    EXPECT_EQ(all.last, 9);
}

// The brute force above reads cells with these same functions, so what they make of a
// text is checked here on its own: the readings' form has a quick way, the rest a long one.
TEST(TrendSummary, CellsReadAsTimesAndNumbers) {
    const std::pair<const char*, std::optional<float>> values[] = {
        {"-12.345", -12.345f}, {"0.001", 0.001f},      {"12.", 12.0f},         {"-.5", -0.5f},
        {"123456789", 123456789.0f}, {"1234567890", 1234567890.0f},  // ten digits: the long way
        {"12345678.9", 12345678.9f}, {"+3", 3.0f},      {" 4.5 ", 4.5f},        {"1e3", 1000.0f},
        {"-", std::nullopt},   {".", std::nullopt},   {"", std::nullopt},     {"1.2.3", std::nullopt},
        {"12x", std::nullopt}, {"nan", std::nullopt}, {"--1", std::nullopt},  {"1e39", std::nullopt},
    };
    for (const auto& [text, want] : values) EXPECT_EQ(parseValue(text), want) << text;
    const std::pair<const char*, std::optional<std::int64_t>> times[] = {
        {"1970-01-01 00:00:00", 0},
        {"2026-12-08 10:00:00.5", 1796724000500},
        {"2026-12-08 10:00:00.123", 1796724000123},
        {"2026-12-08 23:59:60", 1796774400000},
        {"2026-12-08 24:00:00", std::nullopt},
        {"2026-13-08 10:00:00", std::nullopt},
        {"2026-12-08T10:00:00", std::nullopt},
        {"2026-12-08 10:00:00.", std::nullopt},
        {"2026-12-08 10:00:00.1234", std::nullopt},
    };
    for (const auto& [text, want] : times) EXPECT_EQ(parseTime(text), want) << text;
}

}  // namespace
}  // namespace keldrin::trend
