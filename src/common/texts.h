#pragma once
// Text forms chosen once for the whole program: what the value labels show is what
// is recorded and exported, and the clock's form is the record's time stamp.
#include <string>
#include <string_view>

namespace keldrin {

// A reading with exactly three decimals ("1.000", "-0.001", "65.535"); zero and
// negative zero both give "0.000".
std::string readingText(double value);

// The date and time form: "yyyy-MM-dd HH:mm:ss.zzz".
inline constexpr const char* kDateTimeFormat = "yyyy-MM-dd HH:mm:ss.zzz";
// The "HH:mm:ss.zzz" of a text in that form; the whole text when it is shorter.
inline std::string_view timeOfDay(std::string_view dateTime) {
    constexpr std::size_t kDateAndSpace = 11;  // "yyyy-MM-dd "
    return dateTime.size() > kDateAndSpace ? dateTime.substr(kDateAndSpace) : dateTime;
}

}  // namespace keldrin
