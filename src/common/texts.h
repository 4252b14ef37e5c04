#pragma once
// Text forms chosen once for the whole program: what the value labels show is what
// is recorded and exported, and the clock's form is the record's time stamp.
#include <string>

namespace keldrin {

// A reading with exactly three decimals ("1.000", "-0.001", "65.535"); zero and
// negative zero both give "0.000".
std::string readingText(double value);

// The date and time form: "yyyy-MM-dd HH:mm:ss.zzz".
inline constexpr const char* kDateTimeFormat = "yyyy-MM-dd HH:mm:ss.zzz";

}  // namespace keldrin
