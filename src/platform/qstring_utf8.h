#pragma once
// The program's texts are UTF-8; Qt's are UTF-16.
#include <QString>
#include <string_view>

namespace keldrin {

inline QString q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace keldrin
