#pragma once
// Realises model controls as real widgets and keeps the two in step: model changes
// reach the widgets through ControlObserver, operator input reaches the model through
// the user* setters and then the model callback, posted to the dispatcher.
#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/dispatcher.h"
#include "shell/controls.h"

namespace keldrin {

class ControlBinder : public ControlObserver {
public:
    // Makes the grid widget; without it a grid gets a plain QTableView.
    using GridFactory = std::function<QWidget*(Grid&, QWidget* parent)>;
    static constexpr int kAppendWaitMs = 60;  // a little over one display tick

    // root: the model control standing for rootWidget (the area below the menu bar,
    // or the dialog); controls: parents before children.
    ControlBinder(Dispatcher& d, const Control& root, QWidget* rootWidget, const std::vector<Control*>& controls,
                  GridFactory makeGrid = {});
    ~ControlBinder() override;
    ControlBinder(const ControlBinder&) = delete;
    ControlBinder& operator=(const ControlBinder&) = delete;

    QWidget* widget(const std::string& name) const;
    QWidget* widget(const Control& c) const;

    void controlChanged(Control& c, Prop p, const std::string& piece, std::size_t count) override;

    // Called whenever a change other than an append is shown: the display tick changes
    // the clock 20 times a second, so work done here is painted in the tick's pass.
    void setFrameListener(std::function<void()> listener) { frame_ = std::move(listener); }

private:
    QWidget* create(Control& c, QWidget* parent);
    void connectInput(Control& c, QWidget* w);
    void showText(Control& c, QWidget* w);
    // Text appended to a multi-line box waits here and goes in with one insertion with
    // the next other change shown (the display tick's), or after kAppendWaitMs at the
    // latest: a received frame is a dozen appends, and it is painted with the tick.
    void queueAppend(QWidget* w, const std::string& piece);
    void insertQueued(QWidget* w);
    void insertAllQueued();

    Dispatcher& dispatcher_;
    GridFactory makeGrid_;
    std::vector<Control*> controls_;
    std::unordered_map<const Control*, QWidget*> widgets_;
    std::unordered_map<std::string, QWidget*> byName_;
    bool updating_ = false;  // a model change is being shown: not operator input
    std::unordered_map<QWidget*, std::string> queued_;
    QTimer appendWait_;
    std::function<void()> frame_;
};

// How many characters a text appended to a multi-line box takes there.
qsizetype shownLength(const std::string& text);

}  // namespace keldrin
