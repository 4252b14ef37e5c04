#pragma once
// What the trend window (趋势图) shows, worked out apart from the widgets that show it:
// the range of times (following the newest stretch, or the operator's zoom and pan),
// its limits, the y axis, one pixel column per point of each line, the statistics of
// the visible range, and whether a redraw would change anything an operator could see.
// The window binds its controls to this and paints the picture it is given.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "store/trend_summary.h"

namespace keldrin {

class Clock;
class MainWin;

namespace trend {

// How finely the time axis labels its ticks, by the width of the range.
enum class TickLabels { Milliseconds, Seconds, Minutes };

// One redraw's worth of what the plot shows.
struct Picture {
    double from = 0, to = 0;  // the visible range, in milliseconds as the summaries count them
    double gridFrom = 0;      // the time the lines' pixel columns are counted from
    int width = 0;            // pixel columns of the plot's area
    double yLower = 0, yUpper = 5;
    TickLabels ticks = TickLabels::Minutes;
    std::string timeName;  // the time column's heading, the x axis' label
    std::array<std::string, kLines> names;  // the lines' headings
    std::array<bool, kLines> shown{};
    std::array<std::vector<double>, kLines> xs, ys;  // each line's points; a NaN value breaks it
    std::array<Span, kLines> totals{};  // each line's rows in the visible range
};

// The widget that shows a picture.
class Canvas {
public:
    virtual ~Canvas() = default;
    // The plot's area, in pixels.
    virtual int areaWidth() const = 0;
    virtual int areaHeight() const = 0;
    // The range of times shown now, as the operator's zoom or pan left it.
    virtual std::pair<double, double> shownRange() const = 0;
    // Takes the picture's ranges and labels and lays the plot out for them; returns
    // the area's width afterwards, which the axes' labels may have changed.
    virtual int layOut(const Picture& p) = 0;
    // Shows the picture's lines, legend and statistics.
    virtual void paint(const Picture& p) = 0;
};

class TrendView {
public:
    // What the plot follows: the newest stretch of this many milliseconds (kAll: every row).
    static constexpr std::int64_t kMinute = 60000, kTenMinutes = 600000, kHour = 3600000, kAll = 0;
    // Narrower than this, a view shows nothing more; wider, dates leave what Qt can show.
    static constexpr double kMinSpanMs = 1000.0;
    static constexpr double kMaxSpanMs = 200.0 * 365 * 86400000;
    // The longest rows that change no pixel wait to be drawn, statistics and all.
    static constexpr std::int64_t kLongestWaitMs = 1000;
    // Rows appended since the last redraw looked at one by one, beyond which it just redraws.
    static constexpr int kRowsLookedAt = 4096;

    TrendView(RecordStore& store, MainWin& model, Clock& clock, Canvas& canvas);

    // Follows the newest stretch of this many milliseconds.
    void follow(std::int64_t stretch);
    // The operator zoomed or panned: following stops.
    void rangeChangedByOperator();
    void setShown(int line, bool shown);
    // Something the picture depends on changed outside the table (the window's size).
    void invalidate() { dirty_ = true; }

    // Redraws when something visible changed since the last redraw; true if it did.
    bool redrawIfChanged();
    // Redraws now.
    void redraw() { draw(true); }

    bool following() const { return following_; }
    std::int64_t stretch() const { return stretch_; }
    int redraws() const { return redraws_; }
    // What was drawn last.
    const Picture& picture() const { return picture_; }

private:
    bool rowsSinceDrawnAreVisible() const;
    bool waitedLongEnough() const;
    // Works out the picture; draws it when forced or when it differs from the one drawn.
    // True if it drew.
    bool draw(bool force);
    // The range of times to show, within the limits.
    std::pair<double, double> range() const;
    // The picture's lines and statistics for its range and width.
    void fillLines(Picture& p, bool grid);
    // Line line of points at the ranges and width of scales: pixel column and pixel
    // row, in turn.
    void pixels(const Picture& scales, const Picture& points, std::size_t line, std::vector<std::int32_t>& out) const;
    bool samePicture(const Picture& p);

    MainWin& model_;
    Clock& clock_;
    Canvas& canvas_;
    TrendSummary summary_;

    bool following_ = true;
    std::int64_t stretch_ = kTenMinutes;
    std::array<bool, kLines> shown_;
    bool dirty_ = true;     // something other than the table changed: lines shown, range, size
    bool pending_ = false;  // rows came that changed no pixel: not drawn yet
    int drawnRows_ = 0;
    int redraws_ = 0;
    std::optional<std::int64_t> drawnAt_;
    std::vector<Span> spans_;
    Picture next_, picture_;
    std::array<std::vector<std::int32_t>, kLines> pixels_;  // of picture_
    std::vector<std::int32_t> scratch_;
};

}  // namespace trend
}  // namespace keldrin
