#include "platform/qt/trend_window.h"
#include "platform/qstring_utf8.h"

#include <QBuffer>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <cmath>
#include <qcustomplot.h>

#include "common/messages.h"
#include "recording/recording.h"
#include "shell/mainwin.h"

namespace keldrin {

namespace {


// Distinct and readable on white.
const QColor kColours[trend::kLines] = {QColor(0x1f, 0x77, 0xb4), QColor(0xd6, 0x27, 0x28), QColor(0x2c, 0xa0, 0x2c),
                                        QColor(0xff, 0x7f, 0x0e), QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b),
                                        QColor(0xe3, 0x77, 0xc2), QColor(0x17, 0xbe, 0xcf)};

// The axis counts seconds; the summaries count milliseconds of the same calendar.
constexpr double kMsPerSecond = 1000.0;
// Narrower than this, a view shows nothing more; wider, dates leave what Qt can show.
constexpr double kMinSpanMs = 1000.0;
constexpr double kMaxSpanMs = 200.0 * 365 * 86400000;
// Rows appended since the last redraw looked at one by one, beyond which it just redraws.
constexpr int kRowsLookedAt = 4096;
// The longest rows that change no pixel wait to be drawn, statistics and all.
constexpr qint64 kLongestWaitMs = 1000;

QString number(double v) { return QString::number(v, 'g', 7); }

}  // namespace

TrendWindow::TrendWindow(MainWin& model, Files& files, Dispatcher& dispatcher, const QString& workDir)
    : model_(model), files_(files), dispatcher_(dispatcher), fileDialog_(workDir), summary_(model.通用提供者1) {
    setObjectName(QStringLiteral("趋势图"));
    setWindowTitle(q(msg::kTrendTitle));
    // Closing the main window ends the program, this window open or not.
    setAttribute(Qt::WA_QuitOnClose, false);
    fileDialog_.setParent(this);
    boxes_.setParent(this);

    auto* top = new QHBoxLayout;
    auto* stretchGroup = new QButtonGroup(this);
    const std::pair<std::string_view, std::int64_t> stretches[] = {
        {msg::kTrendMinute, kMinute}, {msg::kTrendTenMinutes, kTenMinutes}, {msg::kTrendHour, kHour}, {msg::kTrendAll, kAll}};
    for (std::size_t i = 0; i < std::size(stretches); ++i) {
        auto* b = new QPushButton(q(stretches[i].first), this);
        b->setObjectName(q(stretches[i].first));
        b->setCheckable(true);
        b->setChecked(stretches[i].second == stretch_);
        stretchGroup->addButton(b);
        const std::int64_t ms = stretches[i].second;
        connect(b, &QPushButton::clicked, this, [this, ms] { follow(ms); });
        top->addWidget(b);
        stretches_[i] = b;
    }
    followButton_ = new QPushButton(q(msg::kTrendFollow), this);
    followButton_->setObjectName(q(msg::kTrendFollow));
    followButton_->setCheckable(true);
    followButton_->setChecked(true);
    connect(followButton_, &QPushButton::clicked, this, [this] { follow(stretch_); });
    top->addSpacing(12);
    top->addWidget(followButton_);
    top->addStretch(1);
    auto* save = new QPushButton(q(msg::kTrendSave), this);
    save->setObjectName(q(msg::kTrendSave));
    // A save is an event like any other: it waits for the handler that runs.
    connect(save, &QPushButton::clicked, this, [this] { dispatcher_.post([this] { savePicture(); }); });
    top->addWidget(save);

    plot_ = new QCustomPlot(this);
    plot_->setObjectName(QStringLiteral("曲线图"));
    plot_->setMinimumSize(400, 240);
    plot_->setNotAntialiasedElements(QCP::aePlottables);
    plot_->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    plot_->axisRect()->setRangeDrag(Qt::Horizontal);
    plot_->axisRect()->setRangeZoom(Qt::Horizontal);
    auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
    // The rows' times carry no zone: shown as they are written.
    ticker->setDateTimeSpec(Qt::UTC);
    plot_->xAxis->setTicker(ticker);
    plot_->legend->setVisible(true);
    plot_->legend->setBrush(QColor(255, 255, 255, 210));
    plot_->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignLeft);
    for (int i = 0; i < trend::kLines; ++i) {
        QCPGraph* g = plot_->addGraph();
        g->setPen(QPen(kColours[i], 1));  // a wider pen takes the slow path of the painter
        g->setAdaptiveSampling(false);  // the columns are already one pixel each
        graphs_[static_cast<std::size_t>(i)] = g;
    }
    connect(plot_->xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this,
            [this] { rangeChangedByOperator(); });

    auto* lines = new QHBoxLayout;
    auto* stats = new QGridLayout;
    const std::string_view heads[] = {msg::kTrendLine, msg::kTrendRows, msg::kTrendMin,
                                      msg::kTrendMax,  msg::kTrendMean, msg::kTrendLast};
    for (int k = 0; k < 6; ++k) {
        auto* head = new QLabel(q(heads[k]), this);
        if (k > 0) head->setAlignment(Qt::AlignRight | Qt::AlignVCenter);  // over the numbers
        stats->addWidget(head, 0, k);
    }
    static const char* const kStatNames[6] = {"名称", "行数", "最小", "最大", "平均", "最后"};
    for (int i = 0; i < trend::kLines; ++i) {
        const auto n = static_cast<std::size_t>(i);
        auto* box = new QCheckBox(this);
        box->setObjectName(QStringLiteral("曲线%1").arg(i + 1));
        box->setChecked(true);
        QPalette p = box->palette();
        p.setColor(QPalette::WindowText, kColours[i]);
        box->setPalette(p);
        connect(box, &QCheckBox::toggled, this, [this] { dirty_ = true; });
        lines->addWidget(box);
        shown_[n] = box;
        for (int k = 0; k < 6; ++k) {
            auto* label = new QLabel(this);
            label->setObjectName(QString::fromUtf8(kStatNames[k]) + QString::number(i + 1));
            if (k > 0) label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            stats->addWidget(label, i + 1, k);
            stats_[n][static_cast<std::size_t>(k)] = label;
        }
    }
    lines->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(plot_, 1);
    layout->addLayout(lines);
    layout->addLayout(stats);
    resize(1000, 700);

    timer_.setInterval(kRedrawMs);
    connect(&timer_, &QTimer::timeout, this, [this] { redrawIfChanged(); });
}

TrendWindow::~TrendWindow() = default;

void TrendWindow::showOrRaise() {
    if (isVisible()) {
        raise();
        activateWindow();
        return;
    }
    show();
}

void TrendWindow::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    dirty_ = true;
    redrawIfChanged();
    timer_.start();
}

void TrendWindow::hideEvent(QHideEvent* e) {
    timer_.stop();
    QWidget::hideEvent(e);
}

void TrendWindow::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    dirty_ = true;
}

void TrendWindow::follow(std::int64_t stretch) {
    stretch_ = stretch;
    for (QPushButton* b : stretches_) {
        b->setChecked(b->objectName() == q(stretch == kMinute       ? msg::kTrendMinute
                                             : stretch == kTenMinutes ? msg::kTrendTenMinutes
                                             : stretch == kHour       ? msg::kTrendHour
                                                                      : msg::kTrendAll));
    }
    following_ = true;
    followButton_->setChecked(true);
    dirty_ = true;
}

void TrendWindow::rangeChangedByOperator() {
    if (settingRange_) return;
    following_ = false;
    followButton_->setChecked(false);
    dirty_ = true;
}

std::pair<double, double> TrendWindow::visibleRange() const {
    const QCPRange r = plot_->xAxis->range();
    return {r.lower * kMsPerSecond, r.upper * kMsPerSecond};
}

void TrendWindow::showRange(double fromMs, double toMs) {
    plot_->xAxis->setRange(fromMs / kMsPerSecond, toMs / kMsPerSecond);
}

void TrendWindow::setRange(double fromMs, double toMs) {
    settingRange_ = true;
    plot_->xAxis->setRange(fromMs / kMsPerSecond, toMs / kMsPerSecond);
    settingRange_ = false;
}

bool TrendWindow::rowsSinceDrawnAreVisible() const {
    const int rows = summary_.rows();
    if (rows < drawnRows_ || rows - drawnRows_ > kRowsLookedAt) return true;
    const auto [from, to] = visibleRange();
    // The newest row drawn may have been filled in since.
    for (int r = std::max(drawnRows_, 1); r <= rows; ++r) {
        const std::optional<std::int64_t> t = summary_.timeOf(r);
        if (t && *t >= from && *t <= to) return true;
    }
    return false;
}

bool TrendWindow::redrawIfChanged() {
    if (!isVisible()) return false;
    const bool replaced = summary_.replaced();
    // Rows that changed no pixel are looked at again only when more come, or once they
    // have waited long enough: the same rows make the same picture.
    const bool waited = pending_ && sinceDrawn_.hasExpired(kLongestWaitMs);
    if (!summary_.takeChanged() && !dirty_ && !waited) return false;
    summary_.update();
    if (!dirty_ && !following_ && !replaced && !rowsSinceDrawnAreVisible()) {
        drawnRows_ = summary_.rows();
        return false;
    }
    // While following, a row that changes no pixel waits for one that does, or
    // kLongestWaitMs at most. Rows come faster than columns fill.
    const bool force =
        dirty_ || replaced || !following_ || !sinceDrawn_.isValid() || sinceDrawn_.hasExpired(kLongestWaitMs);
    const bool drew = draw(force);
    pending_ = !drew;
    return drew;
}

void TrendWindow::redraw() { draw(true); }

bool TrendWindow::draw(bool force) {
    summary_.update();
    summary_.takeChanged();

    // The range: the newest stretch while following, else what the operator chose.
    const auto span = summary_.timeSpan();
    double from, to;
    if (following_ && span) {
        to = static_cast<double>(span->second) + 1;  // the newest row inside the view
        from = stretch_ == kAll ? static_cast<double>(span->first) : to - static_cast<double>(stretch_);
    } else {
        std::tie(from, to) = visibleRange();
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

    // The statistics: the rows of the range, column by column in time order.
    int width = std::max(plot_->axisRect()->width(), 1);
    auto statistics = [&] {
        const trend::Columns cols(from, to, width);
        summary_.columns(cols, spans_);
        for (int i = 0; i < trend::kLines; ++i) totals_[static_cast<std::size_t>(i)] = trend::total(spans_, width, i);
        return cols;
    };
    // The lines: one column per pixel of the plot's area. While following a stretch, the
    // range moves a little with every row: the columns then lie on a grid of their own
    // width from the calendar's start, so that a row changes only the column it falls
    // into, not every column's first and last rows, and most rows change no pixel.
    const bool grid = following_ && stretch_ != kAll;
    double gridFrom = from;
    auto lines = [&] {
        trend::Columns cols = statistics();
        if (grid) {
            const double columnMs = (to - from) / width;
            gridFrom = std::floor(from / columnMs) * columnMs;
            cols = trend::Columns(gridFrom, gridFrom + (width + 1) * columnMs, width + 1);
            summary_.columns(cols, spans_);
        }
        for (std::size_t n = 0; n < trend::kLines; ++n) trend::linePoints(spans_, cols, static_cast<int>(n), xs_[n], ys_[n]);
    };
    lines();

    std::array<QString, trend::kLines> names;
    std::array<bool, trend::kLines> shown{};
    double lo = INFINITY, hi = -INFINITY;
    for (int i = 0; i < trend::kLines; ++i) {
        const auto n = static_cast<std::size_t>(i);
        names[n] = q(model_.表(i + 1).text());
        shown[n] = shown_[n]->isChecked();
        if (shown[n] && totals_[n].count > 0) {
            lo = std::min(lo, static_cast<double>(totals_[n].min));
            hi = std::max(hi, static_cast<double>(totals_[n].max));
        }
    }
    // The visible values of the lines shown, with a small margin.
    QCPRange yRange = plot_->yAxis->range();
    if (lo <= hi) {
        const double margin = hi > lo ? (hi - lo) * 0.05 : std::max(std::abs(hi) * 0.05, 1.0);
        yRange = QCPRange(lo - margin, hi + margin);
    }
    const QString timeName = q(model_.表(0).text());
    if (!force && samePicture(from, to, gridFrom, width, yRange, names, timeName)) return false;

    dirty_ = false;
    pending_ = false;
    drawnRows_ = summary_.rows();
    ++redraws_;
    sinceDrawn_.start();
    setRange(from, to);
    plot_->yAxis->setRange(yRange);
    const double spanMs = to - from;
    auto* ticker = static_cast<QCPAxisTickerDateTime*>(plot_->xAxis->ticker().data());
    ticker->setDateTimeFormat(spanMs <= 20000       ? QStringLiteral("yyyy-MM-dd\nHH:mm:ss.zzz")
                              : spanMs <= 86400000 ? QStringLiteral("yyyy-MM-dd\nHH:mm:ss")
                                                   : QStringLiteral("yyyy-MM-dd\nHH:mm"));
    plot_->xAxis->setLabel(timeName);
    // The axes' labels may take other room at the new ranges: laid out first, so that
    // the columns are the pixels the plot ends up with.
    for (auto phase : {QCPLayoutElement::upPreparation, QCPLayoutElement::upMargins, QCPLayoutElement::upLayout}) {
        plot_->plotLayout()->update(phase);
    }
    if (const int laid = std::max(plot_->axisRect()->width(), 1); laid != width) {
        width = laid;
        lines();
    }
    drawn_ = {from, to, width, yRange.lower, yRange.upper};

    for (int i = 0; i < trend::kLines; ++i) {
        const auto n = static_cast<std::size_t>(i);
        QCPGraph* g = graphs_[n];
        const QString& name = names[n];
        g->setName(name);
        shown_[n]->setText(name);
        g->setVisible(shown[n]);
        if (shown[n]) g->addToLegend();
        else g->removeFromLegend();
        for (QLabel* label : stats_[n]) label->setVisible(shown[n]);

        const std::vector<double>& xs = xs_[n];
        QVector<double> keys(static_cast<qsizetype>(xs.size())), values(static_cast<qsizetype>(xs.size()));
        for (std::size_t k = 0; k < xs.size(); ++k) {
            keys[static_cast<qsizetype>(k)] = xs[k] / kMsPerSecond;
            values[static_cast<qsizetype>(k)] = ys_[n][k];
        }
        g->setData(keys, values, true);
        // Few points: marked, so that a lone row between gaps shows too.
        g->setScatterStyle(xs.size() * 6 < static_cast<std::size_t>(width)
                               ? QCPScatterStyle(QCPScatterStyle::ssDisc, 5)
                               : QCPScatterStyle(QCPScatterStyle::ssNone));

        const trend::Span& all = totals_[n];
        stats_[n][0]->setText(name);
        stats_[n][1]->setText(QString::number(all.count));
        if (all.count > 0) {
            stats_[n][2]->setText(number(all.min));
            stats_[n][3]->setText(number(all.max));
            stats_[n][4]->setText(number(all.sum / all.count));
            stats_[n][5]->setText(number(all.last));
        } else {
            for (std::size_t k = 2; k < 6; ++k) stats_[n][k]->clear();
        }
    }
    for (std::size_t n = 0; n < trend::kLines; ++n) pixels(n, gridFrom, pixels_[n]);
    plot_->replot(QCustomPlot::rpImmediateRefresh);
    return true;
}

void TrendWindow::pixels(std::size_t line, double gridFrom, std::vector<std::int32_t>& out) const {
    out.clear();
    const auto& [dFrom, dTo, width, yLower, yUpper] = drawn_;
    const double xScale = width / (dTo - dFrom);
    const double yScale = plot_->axisRect()->height() / (yUpper - yLower);
    const std::vector<double>& xs = xs_[line];
    for (std::size_t k = 0; k < xs.size(); ++k) {
        const auto x = static_cast<std::int32_t>(std::floor((xs[k] - gridFrom) * xScale));
        const double v = ys_[line][k];
        const std::int32_t y = std::isnan(v) ? INT32_MIN : static_cast<std::int32_t>(std::lround((v - yLower) * yScale));
        // Points on one pixel draw as one.
        if (out.size() >= 2 && out[out.size() - 2] == x && out.back() == y) continue;
        out.push_back(x);
        out.push_back(y);
    }
}

bool TrendWindow::samePicture(double from, double to, double gridFrom, int width, const QCPRange& yRange,
                              const std::array<QString, trend::kLines>& names, const QString& timeName) {
    const auto& [dFrom, dTo, dWidth, dLower, dUpper] = drawn_;
    // The same stretch, moved by less than a pixel column.
    if (width != dWidth || to - from != dTo - dFrom || std::abs(to - dTo) * width >= to - from) return false;
    // The y axis moved by less than half a pixel at either end.
    const double half = (dUpper - dLower) / plot_->axisRect()->height() / 2;
    if (!(std::abs(yRange.lower - dLower) < half && std::abs(yRange.upper - dUpper) < half)) return false;
    if (timeName != plot_->xAxis->label()) return false;
    std::vector<std::int32_t> now;
    for (std::size_t n = 0; n < trend::kLines; ++n) {
        if (names[n] != graphs_[n]->name()) return false;
        if (!graphs_[n]->visible()) continue;
        pixels(n, gridFrom, now);
        if (now != pixels_[n]) return false;
    }
    return true;
}

void TrendWindow::savePicture() {
    const std::optional<std::string> chosen = fileDialog_.choose(DialogMode::Save, std::string(msg::kPictureFilter));
    if (!chosen) return;
    std::string path = *chosen;
    if (!QString::fromStdString(path).endsWith(QStringLiteral(".png"), Qt::CaseInsensitive)) path += ".png";

    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    plot_->toPixmap().save(&buffer, "PNG");

    // Created exclusively: an existing file is never touched.
    FileError why;
    std::unique_ptr<OutFile> out = files_.createNew(path, &why);
    if (!out) {
        if (files_.exists(path)) {
            boxes_.show(std::string(msg::kPictureExists), Buttons::Ok, Icon::None, "");
        } else {
            boxes_.show(msg::fileFailure(msg::kPictureFailed, path, fileErrorText(why)), Buttons::Ok, Icon::Critical,
                        std::string(msg::kErrorTitle));
        }
        return;
    }
    const bool written = out->write(std::string_view(png.constData(), static_cast<std::size_t>(png.size())));
    FileError closeWhy;
    const bool closed = out->commit(&closeWhy);
    if (png.isEmpty() || !written || !closed) {
        files_.remove(path);
        boxes_.show(msg::fileFailure(msg::kPictureFailed, path,
                                     closed ? std::string(msg::kExportWriteFailed) : fileErrorText(closeWhy)),
                    Buttons::Ok, Icon::Critical, std::string(msg::kErrorTitle));
        return;
    }
    boxes_.show(msg::pictureSaved(path), Buttons::Ok, Icon::Information, std::string(msg::kInfoTitle));
}

}  // namespace keldrin
