#include "platform/qt/qt_program.h"

#include <QApplication>
#include <QDir>
#include <QFontDatabase>

#include "common/file_names.h"
#include "common/messages.h"
#include "platform/publish_settings_file.h"
#include "platform/qstring_utf8.h"
#include "platform/qt/main_window.h"
#include "platform/qt/publish_dialog.h"
#include "platform/qt/trend_window.h"

namespace keldrin {

namespace {
QString folderOrCurrent(const QString& dir) { return dir.isEmpty() ? QDir::currentPath() : dir; }
}  // namespace

QtProgram::QtProgram(const QString& workDir)
    : workDir_(folderOrCurrent(workDir)),
      port_(workDir_),
      fileDialog_(workDir_),
      files_(workDir.isEmpty() ? std::string() : workDir.toStdString()) {
    useCjkFont();
    dispatcher_.setPauser(&pauser_);
    window_ = std::make_unique<MainWindow>(program_.w, dispatcher_);
    boxes_.setParent(window_.get());
    fileDialog_.setParent(window_.get());
    dialogs_.setParent(window_.get());
    dialogs_.onShowTrend = [this] {
        if (!trend_) trend_ = std::make_unique<TrendWindow>(program_.w, files_, dispatcher_, clock_, workDir_);
        trend_->showOrRaise();
    };
    dialogs_.onShowPublishSettings = [this] { editPublishSettings(); };
}

QtProgram::~QtProgram() {
    trend_.reset();
    window_.reset();
    dispatcher_.setPauser(nullptr);
}

void QtProgram::start() {
    window_->show();
    // Timers with an interval above 0 run from the window's creation, so ticks also
    // arrive while the start-up sequence waits in a message box.
    for (Timer* t : program_.w.timers()) scheduler_.drive(*t);
    program_.start();
}

QWidget* QtProgram::widget(const std::string& name) const { return window_->widget(name); }

void QtProgram::beforeApplication() {
    // On X11, Qt hands each painted region to the X server in shared memory and, before
    // painting the same place again, waits for the server to be done with it: a round
    // trip for every tick of the clock. Sent over the connection instead, the clock's
    // small rectangle costs less, and the idle window about a third less CPU. Other
    // platforms do not read it.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM")) qputenv("QT_XCB_NO_MITSHM", "1");
}

QString QtProgram::useCjkFont() {
    static const char* const kFamilies[] = {"WenQuanYi Micro Hei", "Noto Sans CJK SC", "Source Han Sans SC",
                                            "Droid Sans Fallback", "AR PL UMing CN", "Microsoft YaHei", "SimSun"};
    const QStringList installed = QFontDatabase::families();
    QFont plain = QApplication::font();
    plain.setPixelSize(kFontPixels);
    QApplication::setFont(plain);
    for (const char* family : kFamilies) {
        const QString name = QString::fromUtf8(family);
        if (installed.contains(name, Qt::CaseInsensitive)) {
            QFont f = QApplication::font();
            f.setFamily(name);
            // The layout's boxes are sized for a 12-pixel font.
            f.setPixelSize(kFontPixels);
            QApplication::setFont(f);
            return name;
        }
    }
    return {};
}

void QtProgram::editPublishSettings() {
    std::optional<std::string> problem;
    const QString path = workDir_ + QLatin1Char('/') + q(kPublishSettingsFile);
    const publish::Settings now = readPublishSettings(path, problem);
    PublishDialog dialog(now, window_.get());
    if (dialog.exec() != QDialog::Accepted) return;
    std::string why;
    if (!writePublishSettings(path, dialog.chosen(), &why)) {
        boxes_.show(why, Buttons::Ok, Icon::Critical, std::string(msg::kErrorTitle));
        return;
    }
    publisher_.stop();
    if (const std::optional<std::string> refused = publisher_.start()) {
        boxes_.show(msg::publishSettingsRefused(*refused), Buttons::Ok, Icon::Warning, std::string(msg::kErrorTitle));
    }
}

}  // namespace keldrin
