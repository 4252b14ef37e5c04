#pragma once
// The real main window: the model MainWin as widgets, its menu bar and its icon.
#include <QMainWindow>
#include <memory>

#include "platform/qt/control_binder.h"
#include "shell/mainwin.h"

namespace keldrin {

class RecordGridView;

class MainWindow : public QMainWindow, public WindowObserver {
public:
    MainWindow(MainWin& model, Dispatcher& dispatcher);
    ~MainWindow() override;

    void titleChanged() override;
    QWidget* widget(const std::string& name) const { return binder_->widget(name); }
    QWidget* clientArea() const { return centralWidget(); }
    RecordGridView* grid() const { return grid_; }

    // The 32 x 32 window icon, drawn rather than shipped as a file.
    static QPixmap iconPixmap();

private:
    void buildMenus();

    MainWin& model_;
    Dispatcher& dispatcher_;
    RecordGridView* grid_ = nullptr;
    std::unique_ptr<ControlBinder> binder_;
};

}  // namespace keldrin
