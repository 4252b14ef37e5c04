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
    void showPublishSettings() override {
        if (onShowPublishSettings) onShowPublishSettings();
    }
    // Who makes and shows the trend window and the publishing settings.
    std::function<void()> onShowTrend;
    std::function<void()> onShowPublishSettings;

private:
    Dispatcher& dispatcher_;
    QPointer<QWidget> parent_;
};

}  // namespace keldrin
