#pragma once
// One rule for every text-to-number conversion in the program:
//   surrounding white space is ignored, an optional sign is taken, then the longest
//   numeric prefix; a text with no numeric prefix gives 0; a value outside the target
//   type saturates to that type's limits. No input can cause undefined behaviour.
// The integer conversion reads digits only ("12.9" -> 12, "1e3" -> 1); the
// floating-point conversion also takes a fraction and an exponent ("1e3" -> 1000).
// "nan" and "inf" are not numbers here: they give 0.
#include <cstdint>
#include <string_view>

namespace keldrin {

std::int64_t textToInt64(std::string_view text);
std::int32_t textToInt(std::string_view text);
double textToDouble(std::string_view text);
float textToFloat(std::string_view text);

// Truncates toward zero and saturates to the 32-bit range (NaN gives 0).
std::int32_t truncToInt(double value);

}  // namespace keldrin
