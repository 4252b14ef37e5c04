#pragma once
// One QApplication for the whole test program (offscreen under CTest), and a way to
// let real events arrive without asserting on how long they take.
#include <QApplication>
#include <QElapsedTimer>
#include <functional>

namespace keldrin::test {

inline QApplication& qtApp() {
    static int argc = 1;
    static char name[] = "test_platform";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
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

// Processes events for about ms milliseconds.
inline void processFor(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

}  // namespace keldrin::test
