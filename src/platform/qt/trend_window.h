#pragma once
// The trend window (趋势图): the record table's columns 1..8 as lines against the
// rows' date and time, drawn by QCustomPlot, with a check box per line, the follow
// stretches, 跟随, 全部, statistics of the visible range and 保存图片. Non-modal, beside
// the main window; it follows the table at once. What it shows is worked out by
// display/trend_view.h; this binds the controls to it and paints.
#include <QString>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>

#include "core/services.h"
#include "platform/qt/desktop_services.h"
#include "display/trend_view.h"

class QCheckBox;
class QCPGraph;
class QCustomPlot;
class QLabel;
class QPushButton;

namespace keldrin {

class MainWin;

class TrendWindow : public QWidget, private trend::Canvas {
    Q_OBJECT
public:
    // workDir: where the save dialog starts.
    TrendWindow(MainWin& model, Files& files, Dispatcher& dispatcher, Clock& clock, const QString& workDir);
    ~TrendWindow() override;

    // Shows the window, or raises it when it is open.
    void showOrRaise();

    static constexpr int kRedrawMs = 100;  // at most about ten redraws a second

    // Redraws when something visible changed since the last redraw; true if it did.
    // The window's timer calls it every kRedrawMs while the window is shown.
    bool redrawIfChanged();
    // Redraws now.
    void redraw() { view_.redraw(); }

    bool following() const { return view_.following(); }
    std::int64_t stretch() const { return view_.stretch(); }
    QCustomPlot* plot() const { return plot_; }
    // The visible range of times, in milliseconds as store/trend_summary.h counts them.
    std::pair<double, double> visibleRange() const;
    // Shows a range of times as the operator's zoom or pan would (following stops).
    void showRange(double fromMs, double toMs);
    int redraws() const { return view_.redraws(); }

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    int areaWidth() const override;
    int areaHeight() const override;
    std::pair<double, double> shownRange() const override { return visibleRange(); }
    int layOut(const trend::Picture& p) override;
    void paint(const trend::Picture& p) override;

    void follow(std::int64_t stretch);
    void rangeChangedByOperator();
    // Draws the plot at the device pixels of the screen the window is on.
    void matchScreen();
    void savePicture();

    Files& files_;
    Dispatcher& dispatcher_;
    QtFileDialog fileDialog_;
    QtMessageBoxes boxes_;
    trend::TrendView view_;

    QCustomPlot* plot_ = nullptr;
    std::array<QCPGraph*, trend::kLines> graphs_{};
    std::array<QCheckBox*, trend::kLines> shown_{};
    std::array<std::array<QLabel*, 6>, trend::kLines> stats_{};  // name, rows, min, max, mean, last
    std::array<QPushButton*, 4> stretches_{};
    QPushButton* followButton_ = nullptr;
    QTimer timer_;
    bool settingRange_ = false;
    bool screenWatched_ = false;
};

}  // namespace keldrin
