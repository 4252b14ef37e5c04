#include "display/trend_view.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "core/services.h"
#include "shell/mainwin.h"

namespace keldrin::trend {

TrendView::TrendView(RecordStore& store, MainWin& model, Clock& clock, Canvas& canvas)
    : model_(model), clock_(clock), canvas_(canvas), summary_(store) {
    shown_.fill(true);
}

void TrendView::follow(std::int64_t stretch) {
    stretch_ = stretch;
    following_ = true;
    dirty_ = true;
}

void TrendView::rangeChangedByOperator() {
    following_ = false;
    dirty_ = true;
}

void TrendView::setShown(int line, bool shown) {
    shown_.at(static_cast<std::size_t>(line)) = shown;
    dirty_ = true;
}

bool TrendView::waitedLongEnough() const { return drawnAt_ && clock_.elapsedMs() - *drawnAt_ > kLongestWaitMs; }

bool TrendView::rowsSinceDrawnAreVisible() const {
    const int rows = summary_.rows();
    if (rows < drawnRows_ || rows - drawnRows_ > kRowsLookedAt) return true;
    const auto [from, to] = canvas_.shownRange();
    // The newest row drawn may have been filled in since.
    for (int r = std::max(drawnRows_, 1); r <= rows; ++r) {
        const std::optional<std::int64_t> t = summary_.timeOf(r);
        if (t && *t >= from && *t <= to) return true;
    }
    return false;
}

bool TrendView::redrawIfChanged() {
    const bool replaced = summary_.replaced();
    // Rows that changed no pixel are looked at again only when more come, or once they
    // have waited long enough: the same rows make the same picture.
    const bool waited = pending_ && waitedLongEnough();
    if (!summary_.takeChanged() && !dirty_ && !waited) return false;
    summary_.update();
    if (!dirty_ && !following_ && !replaced && !rowsSinceDrawnAreVisible()) {
        drawnRows_ = summary_.rows();
        return false;
    }
    // While following, a row that changes no pixel waits for one that does, or
    // kLongestWaitMs at most. Rows come faster than columns fill.
    const bool force = dirty_ || replaced || !following_ || !drawnAt_ || waitedLongEnough();
    const bool drew = draw(force);
    pending_ = !drew;
    return drew;
}

std::pair<double, double> TrendView::range() const {
    const auto span = summary_.timeSpan();
    double from, to;
    if (following_ && span) {
        const double first = static_cast<double>(span->first);
        const double newest = static_cast<double>(span->second) + 1;  // the newest row inside the view
        if (stretch_ == kAll) {
            from = first;
            to = newest;
        } else {
            // Until the rows fill the stretch, they start at its left edge rather than
            // sitting in a sliver at the right.
            to = std::max(newest, first + static_cast<double>(stretch_));
            from = to - static_cast<double>(stretch_);
        }
    } else {
        std::tie(from, to) = canvas_.shownRange();
    }
    if (!(to - from >= kMinSpanMs)) {
        const double mid = std::isfinite(from + to) ? (from + to) / 2 : 0;
        from = mid - kMinSpanMs / 2;
        to = mid + kMinSpanMs / 2;
    } else if (to - from > kMaxSpanMs) {
        const double mid = (from + to) / 2;
        from = mid - kMaxSpanMs / 2;
        to = mid + kMaxSpanMs / 2;
    }
    return {from, to};
}

void TrendView::fillLines(Picture& p, bool grid) {
    // The statistics: the rows of the range, column by column in time order.
    Columns cols(p.from, p.to, p.width);
    summary_.columns(cols, spans_);
    for (int i = 0; i < kLines; ++i) p.totals[static_cast<std::size_t>(i)] = total(spans_, p.width, i);
    // The lines: one column per pixel of the plot's area. While following a stretch, the
    // range moves a little with every row: the columns then lie on a grid of their own
    // width from the calendar's start, so that a row changes only the column it falls
    // into, not every column's first and last rows, and most rows change no pixel.
    p.gridFrom = p.from;
    if (grid) {
        const double columnMs = (p.to - p.from) / p.width;
        p.gridFrom = std::floor(p.from / columnMs) * columnMs;
        cols = Columns(p.gridFrom, p.gridFrom + (p.width + 1) * columnMs, p.width + 1);
        summary_.columns(cols, spans_);
    }
    for (std::size_t n = 0; n < kLines; ++n) linePoints(spans_, cols, static_cast<int>(n), p.xs[n], p.ys[n]);
}

bool TrendView::draw(bool force) {
    summary_.update();
    summary_.takeChanged();

    Picture& p = next_;
    std::tie(p.from, p.to) = range();
    p.width = std::max(canvas_.areaWidth(), 1);
    const bool grid = following_ && stretch_ != kAll;
    fillLines(p, grid);

    double lo = INFINITY, hi = -INFINITY;
    for (std::size_t n = 0; n < kLines; ++n) {
        p.names[n] = model_.表(static_cast<int>(n) + 1).text();
        p.shown[n] = shown_[n];
        if (p.shown[n] && p.totals[n].count > 0) {
            lo = std::min(lo, static_cast<double>(p.totals[n].min));
            hi = std::max(hi, static_cast<double>(p.totals[n].max));
        }
    }
    // The visible values of the lines shown, with a small margin; with none, the y axis
    // stays where it was.
    p.yLower = picture_.yLower;
    p.yUpper = picture_.yUpper;
    if (lo <= hi) {
        const double margin = hi > lo ? (hi - lo) * 0.05 : std::max(std::abs(hi) * 0.05, 1.0);
        p.yLower = lo - margin;
        p.yUpper = hi + margin;
    }
    p.timeName = model_.表(0).text();
    const double spanMs = p.to - p.from;
    p.ticks = spanMs <= 20000      ? TickLabels::Milliseconds
              : spanMs <= 86400000 ? TickLabels::Seconds
                                   : TickLabels::Minutes;
    if (!force && samePicture(p)) return false;

    dirty_ = false;
    pending_ = false;
    drawnRows_ = summary_.rows();
    ++redraws_;
    drawnAt_ = clock_.elapsedMs();
    // The axes' labels may take other room at the new ranges: the columns are the
    // pixels the plot ends up with.
    if (const int laid = std::max(canvas_.layOut(p), 1); laid != p.width) {
        p.width = laid;
        fillLines(p, grid);
    }
    std::swap(picture_, next_);
    for (std::size_t n = 0; n < kLines; ++n) pixels(picture_, picture_, n, pixels_[n]);
    canvas_.paint(picture_);
    return true;
}

void TrendView::pixels(const Picture& scales, const Picture& points, std::size_t line,
                       std::vector<std::int32_t>& out) const {
    out.clear();
    const double xScale = scales.width / (scales.to - scales.from);
    const double yScale = canvas_.areaHeight() / (scales.yUpper - scales.yLower);
    const std::vector<double>& xs = points.xs[line];
    const std::vector<double>& ys = points.ys[line];
    for (std::size_t k = 0; k < xs.size(); ++k) {
        const auto x = static_cast<std::int32_t>(std::floor((xs[k] - points.gridFrom) * xScale));
        const double v = ys[k];
        const std::int32_t y =
            std::isnan(v) ? INT32_MIN : static_cast<std::int32_t>(std::lround((v - scales.yLower) * yScale));
        // Points on one pixel draw as one.
        if (out.size() >= 2 && out[out.size() - 2] == x && out.back() == y) continue;
        out.push_back(x);
        out.push_back(y);
    }
}

bool TrendView::samePicture(const Picture& p) {
    const Picture& d = picture_;
    // The same stretch, moved by less than a pixel column.
    if (p.width != d.width || p.to - p.from != d.to - d.from || std::abs(p.to - d.to) * p.width >= p.to - p.from) {
        return false;
    }
    // The y axis moved by less than half a pixel at either end.
    const double half = (d.yUpper - d.yLower) / canvas_.areaHeight() / 2;
    if (!(std::abs(p.yLower - d.yLower) < half && std::abs(p.yUpper - d.yUpper) < half)) return false;
    if (p.timeName != d.timeName || p.names != d.names || p.shown != d.shown) return false;
    for (std::size_t n = 0; n < kLines; ++n) {
        if (!d.shown[n]) continue;
        pixels(d, p, n, scratch_);
        if (scratch_ != pixels_[n]) return false;
    }
    return true;
}

}  // namespace keldrin::trend
