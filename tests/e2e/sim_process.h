#pragma once
// keldrin-sim as a child process serving a pseudo-terminal linked as COMn in a folder.
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <csignal>
#include <string>

#include "../platform/qt_test_app.h"

namespace keldrin::test {

class SimProcess {
public:
    SimProcess(const QString& dir, QStringList extra = {}) {
        QStringList args{"--dir", dir, "--com", "3"};
        args += extra;
        process_.setProgram(QString::fromUtf8(KELDRIN_SIM_PATH));
        process_.setArguments(args);
        process_.start();
        ok_ = process_.waitForStarted(5000) &&
              processUntil([&] { return process_.canReadLine(); }, 5000);
        if (ok_) device_ = QString::fromUtf8(process_.readLine()).trimmed();
        link_ = dir + "/COM3";
    }
    ~SimProcess() {
        process_.terminate();
        if (!process_.waitForFinished(3000)) process_.kill();
    }
    bool ok() const { return ok_ && QFileInfo::exists(link_); }
    QString device() const { return device_; }
    void toggleSilence() { ::kill(static_cast<pid_t>(process_.processId()), SIGUSR1); }
    QProcess& process() { return process_; }

private:
    QProcess process_;
    QString device_;
    QString link_;
    bool ok_ = false;
};

}  // namespace keldrin::test
