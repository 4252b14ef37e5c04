#include "platform/publish_settings_file.h"

#include <QFileInfo>
#include <QSettings>
#include <QSysInfo>

#include "common/messages.h"
#include "platform/qstring_utf8.h"

namespace keldrin {

namespace {

// Far more than any settings file: a bigger one is not ours.
constexpr qint64 kLargestFile = 64 * 1024;

std::optional<bool> yesNo(const QVariant& v) {
    const QString t = v.toString().trimmed().toLower();
    if (t == QLatin1String("true") || t == QLatin1String("1")) return true;
    if (t == QLatin1String("false") || t == QLatin1String("0")) return false;
    return std::nullopt;
}

}  // namespace

publish::Settings readPublishSettings(const QString& path, std::optional<std::string>& problem) {
    publish::Settings s;
    s.rig = QSysInfo::machineHostName().toStdString();
    problem.reset();
    const QFileInfo info(path);
    if (!info.exists()) return s;
    if (!info.isFile() || info.size() > kLargestFile) {
        problem = std::string(msg::kPublishNotSettings);
        return s;
    }
    QSettings ini(path, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError) {
        problem = std::string(msg::kPublishUnreadable);
        return s;
    }
    ini.beginGroup(QStringLiteral("mqtt"));
    publish::Settings read = s;
    auto flag = [&](const char* key, bool& into) {
        if (!ini.contains(QLatin1String(key))) return true;
        const std::optional<bool> v = yesNo(ini.value(QLatin1String(key)));
        if (!v) {
            problem = msg::publishNotTruth(key);
            return false;
        }
        into = *v;
        return true;
    };
    if (!flag("enabled", read.enabled) || !flag("tls", read.tls)) return s;
    read.host = ini.value(QStringLiteral("host")).toString().trimmed().toStdString();
    if (ini.contains(QStringLiteral("port"))) {
        bool ok = false;
        read.port = ini.value(QStringLiteral("port")).toString().trimmed().toInt(&ok);
        if (!ok) read.port = 0;  // refused below
    }
    read.ca = ini.value(QStringLiteral("ca")).toString().toStdString();
    read.user = ini.value(QStringLiteral("user")).toString().toStdString();
    read.password = ini.value(QStringLiteral("password")).toString().toStdString();
    if (ini.contains(QStringLiteral("rig"))) read.rig = ini.value(QStringLiteral("rig")).toString().trimmed().toStdString();
    if (std::optional<std::string> why = publish::problemWith(read)) {
        problem = std::move(why);
        return s;
    }
    if (read.enabled && read.tls && !QFileInfo(q(read.ca)).isReadable()) {
        problem = msg::publishCaUnreadable(read.ca);
        return s;
    }
    return read;
}

bool writePublishSettings(const QString& path, const publish::Settings& s, std::string* why) {
    QSettings ini(path, QSettings::IniFormat);
    ini.beginGroup(QStringLiteral("mqtt"));
    ini.setValue(QStringLiteral("enabled"), s.enabled ? QStringLiteral("true") : QStringLiteral("false"));
    ini.setValue(QStringLiteral("host"), q(s.host));
    ini.setValue(QStringLiteral("port"), s.port);
    ini.setValue(QStringLiteral("tls"), s.tls ? QStringLiteral("true") : QStringLiteral("false"));
    ini.setValue(QStringLiteral("ca"), q(s.ca));
    ini.setValue(QStringLiteral("user"), q(s.user));
    ini.setValue(QStringLiteral("password"), q(s.password));
    ini.setValue(QStringLiteral("rig"), q(s.rig));
    ini.endGroup();
    ini.sync();
    if (ini.status() != QSettings::NoError) {
        if (why) *why = msg::publishUnwritten(path.toStdString());
        return false;
    }
    return true;
}

}  // namespace keldrin
