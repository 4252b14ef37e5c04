#pragma once
// Text forms chosen once for the whole program: what the value labels show is what
// is recorded and exported, and the clock's form is the record's time stamp.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace keldrin {

// A reading with exactly three decimals ("1.000", "-0.001", "65.535"); zero and
// negative zero both give "0.000".
std::string readingText(double value);

// The date and time form: "yyyy-MM-dd HH:mm:ss.zzz".
inline constexpr const char* kDateTimeFormat = "yyyy-MM-dd HH:mm:ss.zzz";
// What a text in that form says, read by the same positions it is written with. Texts
// the program wrote and texts from a table file are read alike: the milliseconds may
// have one to three digits or be left out, and nothing else is taken.
// The days since 1970-01-01 of its date.
std::optional<std::int64_t> dateDays(std::string_view dateTime);
// The milliseconds since midnight of its time of day.
std::optional<std::int64_t> timeOfDayMs(std::string_view dateTime);
// Both: the milliseconds since 1970-01-01 00:00 of the time written, in no zone.
std::optional<std::int64_t> dateTimeMs(std::string_view dateTime);
// "yyyyMMdd_HHmmss", for a file's name; empty when the text is too short.
std::string fileStamp(std::string_view dateTime);
// The "HH:mm:ss.zzz" of a text in that form; the whole text when it is shorter.
inline std::string_view timeOfDay(std::string_view dateTime) {
    constexpr std::size_t kDateAndSpace = 11;  // "yyyy-MM-dd "
    return dateTime.size() > kDateAndSpace ? dateTime.substr(kDateAndSpace) : dateTime;
}

}  // namespace keldrin
