#pragma once
// The whole program on Qt: dispatcher, services, program-wide variables, the window
// model with its handlers, and the real window. Tests build it offscreen on a
// temporary working folder.
#include <QString>
#include <memory>

#include "platform/disk_files.h"
#include "platform/gbk.h"
#include "platform/mqtt_publisher.h"
#include "platform/qt/desktop_services.h"
#include "platform/qt/port_dialog.h"
#include "platform/qt/serial_port.h"
#include "program/program.h"

class QWidget;

namespace keldrin {

class MainWindow;
class TrendWindow;

class QtProgram {
public:
    // workDir: the working folder for the settings files and COMn links (empty: the
    // current directory).
    explicit QtProgram(const QString& workDir = {});
    ~QtProgram();
    QtProgram(const QtProgram&) = delete;
    QtProgram& operator=(const QtProgram&) = delete;

    // Shows the window, starts the timers and runs the start-up sequence.
    void start();

    MainWin& model() { return program_.w; }
    Globals& globals() { return program_.g; }
    App& app() { return program_.app; }
    Dispatcher& dispatcher() { return dispatcher_; }
    QtSerialPort& port() { return port_; }
    MainWindow& window() { return *window_; }
    // The widget of a main-window control by its name; nullptr when there is none.
    QWidget* widget(const std::string& name) const;
    // The trend window, made the first time 趋势图 is chosen; nullptr until then.
    TrendWindow* trend() const { return trend_.get(); }

    // What must be settled before the QApplication is made.
    static void beforeApplication();
    // Makes a CJK family the application font when one is installed; returns it.
    static QString useCjkFont();
    static constexpr int kFontPixels = 12;
    MqttPublisher& publisher() { return publisher_; }

private:
    // 发布设置: the dialog, then the file written and publishing started afresh from it.
    void editPublishSettings();

    QString workDir_;
    Dispatcher dispatcher_;
    QtPauser pauser_;
    QtSerialPort port_;
    QtMessageBoxes boxes_;
    QtFileDialog fileDialog_;
    QtClock clock_;
    QtBeeper beeper_;
    QtScreen screen_;
    DiskFiles files_;
    SystemGbk gbk_;
    QtDialogs dialogs_{dispatcher_};
    QtLater later_{dispatcher_};
    MqttPublisher publisher_{workDir_};
    Services services_{port_,  boxes_, fileDialog_, clock_,      beeper_,   screen_,
                       files_, gbk_,   dialogs_,    dispatcher_, later_, publisher_};
    Program program_{services_};
    QtScheduler scheduler_{dispatcher_};
    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<TrendWindow> trend_;
};

}  // namespace keldrin
