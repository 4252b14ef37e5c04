#include "platform/qt/port_dialog.h"

#include <QDialog>
#include <QTimer>

#include "platform/qt/control_binder.h"
#include "platform/qt/desktop_services.h"
#include "shell/mainwin.h"

namespace keldrin {

namespace {

// The close box (and Esc) act like 确认: the same click runs, and the dialog closes
// even when nothing is wired to it.
class PortWinDialog : public QDialog {
public:
    PortWinDialog(PortWin& model, Dispatcher& d, QWidget* parent) : QDialog(parent), model_(model), dispatcher_(d) {}
    void reject() override {
        if (!model_.closeRequested()) {
            Button* confirm = &model_.按钮1;
            dispatcher_.post([confirm] {
                if (confirm->clicked) confirm->clicked();
            });
        }
        if (isVisible()) QDialog::reject();
    }

private:
    PortWin& model_;
    Dispatcher& dispatcher_;
};

}  // namespace

void QtDialogs::showPortWin(PortWin& dialog) {
    if (dialog.closeRequested()) return;
    PortWinDialog window(dialog, dispatcher_, parent_);
    window.setObjectName(QStringLiteral("PortWin"));
    setWindowTitleAsShown(window, QString::fromStdString(dialog.title()));
    window.setModal(true);
    ControlBinder binder(dispatcher_, dialog.client, &window, dialog.controls());
    // Positions are screen positions of the dialog's client area, like the main window's.
    window.setGeometry(PortWin::kLeft, PortWin::kTop, PortWin::kWidth, PortWin::kHeight);
    window.setFixedSize(PortWin::kWidth, PortWin::kHeight);

    std::function<void()> previous = dialog.onClose;
    dialog.onClose = [&window, previous] {
        if (previous) previous();
        window.accept();
    };
    window.exec();
    dialog.onClose = previous;
}

}  // namespace keldrin
