#include "common/texts.h"

#include <cmath>
#include <cstdio>

namespace keldrin {

std::string readingText(double value) {
    if (!std::isfinite(value)) return "0.000";
    double rounded = std::round(value * 1000.0) / 1000.0;
    if (rounded == 0.0) rounded = 0.0;  // folds -0.0
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3f", rounded);
    return buf;
}

}  // namespace keldrin
