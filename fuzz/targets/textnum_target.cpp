#include <cmath>
#include <cstdlib>
#include <limits>
#include <string_view>

#include "common/textnum.h"
#include "targets/targets.h"

namespace keldrin::fuzz {

void textToNumberOne(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::int64_t i64 = textToInt64(text);
    std::int32_t i32 = textToInt(text);
    // The 32-bit conversion is the 64-bit one saturated.
    std::int64_t clamped = i64 < std::numeric_limits<std::int32_t>::min()   ? std::numeric_limits<std::int32_t>::min()
                           : i64 > std::numeric_limits<std::int32_t>::max() ? std::numeric_limits<std::int32_t>::max()
                                                                            : i64;
    if (i32 != clamped) std::abort();
    double d = textToDouble(text);
    if (!std::isfinite(d)) std::abort();
    float f = textToFloat(text);
    if (!std::isfinite(f)) std::abort();
    // A text the integer rule reads as n reads as a number of the same sign.
    if ((i64 > 0 && d < 0) || (i64 < 0 && d > 0)) std::abort();
    (void)truncToInt(d);
}

}  // namespace keldrin::fuzz
