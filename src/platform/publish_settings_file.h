#pragma once
// 发布.ini: publishing's settings in QSettings' INI format (UTF-8), group [mqtt]. Tools
// and scripts write it too.
#include <QString>
#include <optional>
#include <string>

#include "publish/settings.h"

namespace keldrin {

// The settings the file holds: off when there is no file. A file that cannot be read
// or holds a value of the wrong kind gives a problem, in the operator's words, and
// settings that are off.
publish::Settings readPublishSettings(const QString& path, std::optional<std::string>& problem);
// Writes the settings; false with why when the file could not be written.
bool writePublishSettings(const QString& path, const publish::Settings& s, std::string* why);

}  // namespace keldrin
