// Keldrin: the window, the serial link and the timers all run on this one thread.
#include <QApplication>

#include "platform/qt/program.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Keldrin"));
    // Settings files and COMn links are looked for in the current directory.
    keldrin::QtProgram program;
    program.start();
    app.exec();
    return 0;  // closing the window is the only way out; nothing is written here
}
