#include "platform/qt/trend_window.h"
#include "platform/qstring_utf8.h"

#include <QBuffer>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWindow>
#include <qcustomplot.h>

#include "common/messages.h"
#include "recording/recording.h"  // fileErrorText
#include "shell/mainwin.h"

namespace keldrin {

namespace {


// Distinct and readable on white.
const QColor kColours[trend::kLines] = {QColor(0x1f, 0x77, 0xb4), QColor(0xd6, 0x27, 0x28), QColor(0x2c, 0xa0, 0x2c),
                                        QColor(0xff, 0x7f, 0x0e), QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b),
                                        QColor(0xe3, 0x77, 0xc2), QColor(0x17, 0xbe, 0xcf)};

// The axis counts seconds; the summaries count milliseconds of the same calendar.
constexpr double kMsPerSecond = 1000.0;

QString number(double v) { return QString::number(v, 'g', 7); }

}  // namespace

TrendWindow::TrendWindow(MainWin& model, Files& files, Dispatcher& dispatcher, Clock& clock, const QString& workDir)
    : files_(files), dispatcher_(dispatcher), fileDialog_(workDir), view_(model.通用提供者1, model, clock, *this) {
    setObjectName(QStringLiteral("趋势图"));
    setWindowTitle(q(msg::kTrendTitle));
    // Closing the main window ends the program, this window open or not.
    setAttribute(Qt::WA_QuitOnClose, false);
    fileDialog_.setParent(this);
    boxes_.setParent(this);

    auto* top = new QHBoxLayout;
    auto* stretchGroup = new QButtonGroup(this);
    using trend::TrendView;
    const std::pair<std::string_view, std::int64_t> stretches[] = {{msg::kTrendMinute, TrendView::kMinute},
                                                                   {msg::kTrendTenMinutes, TrendView::kTenMinutes},
                                                                   {msg::kTrendHour, TrendView::kHour},
                                                                   {msg::kTrendAll, TrendView::kAll}};
    for (std::size_t i = 0; i < std::size(stretches); ++i) {
        auto* b = new QPushButton(q(stretches[i].first), this);
        b->setObjectName(q(stretches[i].first));
        b->setCheckable(true);
        b->setChecked(stretches[i].second == view_.stretch());
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
    connect(followButton_, &QPushButton::clicked, this, [this] { follow(view_.stretch()); });
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
        connect(box, &QCheckBox::toggled, this, [this, i](bool on) { view_.setShown(i, on); });
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
    if (!screenWatched_ && windowHandle()) {
        connect(windowHandle(), &QWindow::screenChanged, this, [this] { matchScreen(); });
        screenWatched_ = true;
    }
    matchScreen();
    view_.invalidate();
    redrawIfChanged();
    timer_.start();
}

void TrendWindow::matchScreen() {
    // QCustomPlot takes the ratio once, when it is made, from whatever screen the
    // widget had then: a window on another screen would be drawn blurred.
    const double ratio = devicePixelRatioF();
    if (plot_->bufferDevicePixelRatio() == ratio) return;
    plot_->setBufferDevicePixelRatio(ratio);
    view_.invalidate();
}

void TrendWindow::hideEvent(QHideEvent* e) {
    timer_.stop();
    QWidget::hideEvent(e);
}

void TrendWindow::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    view_.invalidate();
}

void TrendWindow::follow(std::int64_t stretch) {
    using trend::TrendView;
    for (QPushButton* b : stretches_) {
        b->setChecked(b->objectName() == q(stretch == TrendView::kMinute       ? msg::kTrendMinute
                                             : stretch == TrendView::kTenMinutes ? msg::kTrendTenMinutes
                                             : stretch == TrendView::kHour       ? msg::kTrendHour
                                                                                 : msg::kTrendAll));
    }
    followButton_->setChecked(true);
    view_.follow(stretch);
}

void TrendWindow::rangeChangedByOperator() {
    if (settingRange_) return;
    followButton_->setChecked(false);
    view_.rangeChangedByOperator();
}

std::pair<double, double> TrendWindow::visibleRange() const {
    const QCPRange r = plot_->xAxis->range();
    return {r.lower * kMsPerSecond, r.upper * kMsPerSecond};
}

void TrendWindow::showRange(double fromMs, double toMs) {
    plot_->xAxis->setRange(fromMs / kMsPerSecond, toMs / kMsPerSecond);
}

bool TrendWindow::redrawIfChanged() {
    if (!isVisible()) return false;
    matchScreen();  // the screen's own scale may have changed under the window
    return view_.redrawIfChanged();
}

int TrendWindow::areaWidth() const { return plot_->axisRect()->width(); }

int TrendWindow::areaHeight() const { return plot_->axisRect()->height(); }

int TrendWindow::layOut(const trend::Picture& p) {
    settingRange_ = true;
    plot_->xAxis->setRange(p.from / kMsPerSecond, p.to / kMsPerSecond);
    settingRange_ = false;
    plot_->yAxis->setRange(p.yLower, p.yUpper);
    auto* ticker = static_cast<QCPAxisTickerDateTime*>(plot_->xAxis->ticker().data());
    ticker->setDateTimeFormat(p.ticks == trend::TickLabels::Milliseconds ? QStringLiteral("yyyy-MM-dd\nHH:mm:ss.zzz")
                              : p.ticks == trend::TickLabels::Seconds    ? QStringLiteral("yyyy-MM-dd\nHH:mm:ss")
                                                                         : QStringLiteral("yyyy-MM-dd\nHH:mm"));
    plot_->xAxis->setLabel(q(p.timeName));
    for (auto phase : {QCPLayoutElement::upPreparation, QCPLayoutElement::upMargins, QCPLayoutElement::upLayout}) {
        plot_->plotLayout()->update(phase);
    }
    return plot_->axisRect()->width();
}

void TrendWindow::paint(const trend::Picture& p) {
    for (std::size_t n = 0; n < trend::kLines; ++n) {
        QCPGraph* g = graphs_[n];
        const QString name = q(p.names[n]);
        g->setName(name);
        shown_[n]->setText(name);
        g->setVisible(p.shown[n]);
        if (p.shown[n]) g->addToLegend();
        else g->removeFromLegend();
        for (QLabel* label : stats_[n]) label->setVisible(p.shown[n]);

        const std::vector<double>& xs = p.xs[n];
        QVector<double> keys(static_cast<qsizetype>(xs.size())), values(static_cast<qsizetype>(xs.size()));
        for (std::size_t k = 0; k < xs.size(); ++k) {
            keys[static_cast<qsizetype>(k)] = xs[k] / kMsPerSecond;
            values[static_cast<qsizetype>(k)] = p.ys[n][k];
        }
        g->setData(keys, values, true);
        // Few points: marked, so that a lone row between gaps shows too.
        g->setScatterStyle(xs.size() * 6 < static_cast<std::size_t>(p.width)
                               ? QCPScatterStyle(QCPScatterStyle::ssDisc, 5)
                               : QCPScatterStyle(QCPScatterStyle::ssNone));

        const trend::Span& all = p.totals[n];
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
    plot_->replot(QCustomPlot::rpImmediateRefresh);
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
