#include "common/texts.h"

#include <charconv>
#include <cmath>

namespace keldrin {

std::string readingText(double value) {
    if (!std::isfinite(value)) return "0.000";
    double rounded = std::round(value * 1000.0) / 1000.0;
    if (rounded == 0.0) rounded = 0.0;  // folds -0.0
    // to_chars, not printf: the text must not follow the user's locale (a decimal
    // comma would shift every CSV column after it).
    char buf[400];  // the widest double in fixed notation with three decimals
    const std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, rounded, std::chars_format::fixed, 3);
    return std::string(buf, r.ptr);
}

}  // namespace keldrin
