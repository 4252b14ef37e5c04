#pragma once
// The trend window (趋势图): the record table's columns 1..8 as lines against the
// rows' date and time, drawn by QCustomPlot from the summaries of records/, with a
// check box per line, the follow stretches, 跟随, 全部, statistics of the visible
// range and 保存图片. Non-modal, beside the main window; it follows the table at once.
#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <vector>

#include "core/services.h"
#include "platform/qt/desktop_services.h"
#include "store/trend_summary.h"

class QCheckBox;
class QCPGraph;
class QCPRange;
class QCustomPlot;
class QLabel;
class QPushButton;

namespace keldrin {

class MainWin;

class TrendWindow : public QWidget {
    Q_OBJECT
public:
    // workDir: where the save dialog starts.
    TrendWindow(MainWin& model, Files& files, Dispatcher& dispatcher, const QString& workDir);
    ~TrendWindow() override;

    // Shows the window, or raises it when it is open.
    void showOrRaise();

    // What the plot follows: the newest stretch of this many milliseconds (0: every row).
    static constexpr std::int64_t kMinute = 60000, kTenMinutes = 600000, kHour = 3600000, kAll = 0;
    static constexpr int kRedrawMs = 100;  // at most about ten redraws a second

    // Redraws when something visible changed since the last redraw; true if it did.
    // The window's timer calls it every kRedrawMs while the window is shown.
    bool redrawIfChanged();
    // Redraws now.
    void redraw();

    bool following() const { return following_; }
    std::int64_t stretch() const { return stretch_; }
    QCustomPlot* plot() const { return plot_; }
    // The visible range of times, in milliseconds as records/trend_summary.h counts them.
    std::pair<double, double> visibleRange() const;
    // Shows a range of times as the operator's zoom or pan would (following stops).
    void showRange(double fromMs, double toMs);
    int redraws() const { return redraws_; }

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void follow(std::int64_t stretch);
    void rangeChangedByOperator();
    void setRange(double fromMs, double toMs);
    bool rowsSinceDrawnAreVisible() const;
    // Works out the picture; draws it when forced or when it differs from the one drawn.
    // True if it drew.
    bool draw(bool force);
    // Line line's points at the scales of drawn_, columns counted from gridFrom: pixel
    // column and pixel row, in turn.
    void pixels(std::size_t line, double gridFrom, std::vector<std::int32_t>& out) const;
    bool samePicture(double from, double to, double gridFrom, int width, const QCPRange& yRange,
                     const std::array<QString, trend::kLines>& names, const QString& timeName);
    void savePicture();

    MainWin& model_;
    Files& files_;
    Dispatcher& dispatcher_;
    QtFileDialog fileDialog_;
    QtMessageBoxes boxes_;
    trend::TrendSummary summary_;

    QCustomPlot* plot_ = nullptr;
    std::array<QCPGraph*, trend::kLines> graphs_{};
    std::array<QCheckBox*, trend::kLines> shown_{};
    std::array<std::array<QLabel*, 6>, trend::kLines> stats_{};  // name, rows, min, max, mean, last
    std::array<QPushButton*, 4> stretches_{};
    QPushButton* followButton_ = nullptr;
    QTimer timer_;

    bool following_ = true;
    std::int64_t stretch_ = kTenMinutes;
    bool dirty_ = true;  // something other than the table changed: lines shown, range, size
    bool pending_ = false;  // rows came that changed no pixel: not drawn yet
    bool settingRange_ = false;
    int drawnRows_ = 0;
    int redraws_ = 0;
    std::vector<trend::Span> spans_;
    std::array<std::vector<double>, trend::kLines> xs_, ys_;
    std::array<trend::Span, trend::kLines> totals_{};
    // What was last drawn: the range, its pixel columns, the y axis, and each line's pixels.
    struct Drawn {
        double from = 0, to = 0;
        int width = 0;
        double yLower = 0, yUpper = 0;
    } drawn_;
    std::array<std::vector<std::int32_t>, trend::kLines> pixels_;
    QElapsedTimer sinceDrawn_;
};

}  // namespace keldrin
