#include "support/comma_locale.h"

#include <QProcess>
#include <clocale>
#include <cstring>

namespace keldrin::test {

CommaLocale::CommaLocale() {
    // The last two are Windows' names.
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "German_Germany.1252", "German"}) {
        if (use(name)) return;
    }
#ifndef _WIN32
    // glibc looks for locales in LOCPATH first; localedef's warnings do not matter.
    QProcess::execute(QStringLiteral("localedef"),
                      {QStringLiteral("-i"), QStringLiteral("de_DE"), QStringLiteral("-f"), QStringLiteral("UTF-8"),
                       dir_.filePath(QStringLiteral("de_DE.UTF-8"))});
    qputenv("LOCPATH", dir_.path().toLocal8Bit());
    use("de_DE.UTF-8");
#endif
}

CommaLocale::~CommaLocale() {
    std::setlocale(LC_ALL, "C");
    qunsetenv("LOCPATH");
}

bool CommaLocale::use(const char* name) {
    if (!std::setlocale(LC_ALL, name)) return false;
    active_ = std::strcmp(std::localeconv()->decimal_point, ",") == 0;
    return active_;
}

}  // namespace keldrin::test
