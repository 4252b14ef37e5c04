// Keldrin: the window, the serial link and the timers all run on this one thread.
#include <QApplication>
#include <QDir>
#include <QStandardPaths>
#include <QStringList>
#include <clocale>
#include <cstdio>

#include "platform/qt/qt_program.h"

namespace {

// Started from a desktop menu, the working folder is whatever the launcher gives
// (usually the home folder); the desktop entry asks for a folder of the user's own,
// so that the settings files and COMn links do not land among the user's files:
// ~/.local/share/Keldrin, or %LOCALAPPDATA%\Keldrin on Windows (records stay on this PC,
// never in a roaming profile copied at every log-on).
bool useUserFolder() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    return !folder.isEmpty() && QDir().mkpath(folder) && QDir::setCurrent(folder);
}

}  // namespace

int main(int argc, char* argv[]) {
    keldrin::QtProgram::beforeApplication();
    QApplication app(argc, argv);
    // QApplication takes the C library's number format from the environment; every
    // number this program writes or reads must look the same in every locale.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("Keldrin"));
    if (QApplication::arguments().contains(QStringLiteral("--user-folder")) && !useUserFolder()) {
        std::fprintf(stderr, "keldrin: cannot use the per-user data folder\n");
        return 1;
    }
    // Settings files and COMn links are looked for in the current directory.
    keldrin::QtProgram program;
    program.start();
    app.exec();
    return 0;  // closing the window is the only way out; nothing is written here
}
