#pragma once
// The port dialog PortWin shown modally over the main window; the trend window shown
// beside it.
#include <QPointer>
#include <QWidget>
#include <functional>

#include "core/services.h"

class QDialog;

namespace keldrin {

class QtDialogs : public Dialogs {
public:
    explicit QtDialogs(Dispatcher& d) : dispatcher_(d) {}
    void setParent(QWidget* parent) { parent_ = parent; }
    void showPortWin(PortWin& dialog) override;
    void showTrend() override {
        if (onShowTrend) onShowTrend();
    }
    // Who makes and shows the trend window.
    std::function<void()> onShowTrend;

private:
    Dispatcher& dispatcher_;
    QPointer<QWidget> parent_;
};

}  // namespace keldrin
