#pragma once
// One QApplication for the whole test program (offscreen under CTest), and a way to
// let real events arrive without asserting on how long they take.
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QSerialPort>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "platform/qt/qt_program.h"

namespace keldrin::test {

inline QApplication& qtApp() {
    static int argc = 1;
    static char name[] = "test_platform";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        QtProgram::beforeApplication();
        return new QApplication(argc, argv);
    }();
    return *app;
}

// Processes events until cond holds; false if it never did within limitMs (a
// generous bound only there so that a fault fails instead of hanging).
inline bool processUntil(const std::function<bool()>& cond, int limitMs = 3000) {
    QElapsedTimer clock;
    clock.start();
    while (!cond()) {
        if (clock.elapsed() > limitMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Answers every modal box or dialog as the operator would, once it is on screen: the
// answer runs for each new modal widget, from the event loop that shows it.
class ModalAnswerer {
public:
    explicit ModalAnswerer(std::function<void(QWidget&)> answer) : answer_(std::move(answer)) {
        qtApp();  // the timer needs the application
        QObject::connect(&poll_, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal || modal == last_ || !modal->isVisible()) return;
            last_ = modal;
            answer_(*modal);
        });
        poll_.start(1);
    }
    void answerWith(std::function<void(QWidget&)> answer) { answer_ = std::move(answer); }

private:
    std::function<void(QWidget&)> answer_;
    QPointer<QWidget> last_;
    QTimer poll_;
};

// The operator who says OK to every message box (keeping its text in boxes) and picks
// file in every file dialog.
inline void answerOkAndPick(QWidget& modal, std::vector<std::string>& boxes, const QString& file) {
    if (auto* box = qobject_cast<QMessageBox*>(&modal)) {
        boxes.push_back(box->text().toStdString());
        box->button(QMessageBox::Ok)->click();
    } else if (auto* files = qobject_cast<QFileDialog*>(&modal)) {
        files->selectFile(file);
        QMetaObject::invokeMethod(files, "accept");
    }
}

// Every error QSerialPort reports on the port a QObject holds.
class SerialErrorCount {
public:
    explicit SerialErrorCount(QObject& holder) {
        if (auto* port = holder.findChild<QSerialPort*>()) {
            QObject::connect(port, &QSerialPort::errorOccurred, [this](QSerialPort::SerialPortError e) {
                if (e != QSerialPort::NoError) ++count_;
            });
        }
    }
    int count() const { return count_; }

private:
    int count_ = 0;
};

// Runs the event loop for about ms; returns its longest single pass, which is the
// longest an operator's click could have waited.
inline qint64 longestEventLoopPassMs(int ms) {
    QElapsedTimer total, pass;
    qint64 longest = 0;
    for (total.start(); total.elapsed() < ms;) {
        pass.start();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        longest = std::max(longest, pass.elapsed());
    }
    return longest;
}

// Processes events for about ms milliseconds.
inline void processFor(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

}  // namespace keldrin::test
