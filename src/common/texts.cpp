#include "common/texts.h"

#include <charconv>
#include <cmath>

namespace keldrin {

namespace {

bool digits(std::string_view s, std::size_t at, std::size_t n, int& out) {
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        const char c = s[i];
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    out = v;
    return true;
}

// Days from 1970-01-01 to y-m-d of the proleptic Gregorian calendar.
std::int64_t daysFromCivil(std::int64_t y, int m, int d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * static_cast<unsigned>(m + (m > 2 ? -3 : 9)) + 2) / 5 + static_cast<unsigned>(d) - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

}  // namespace

std::optional<std::int64_t> dateDays(std::string_view s) {
    int y, mo, d;
    if (s.size() < 11 || s[4] != '-' || s[7] != '-' || s[10] != ' ' || !digits(s, 0, 4, y) || !digits(s, 5, 2, mo) ||
        !digits(s, 8, 2, d) || mo < 1 || mo > 12 || d < 1 || d > 31) {
        return std::nullopt;
    }
    return daysFromCivil(y, mo, d);
}

std::optional<std::int64_t> timeOfDayMs(std::string_view s) {
    int h, mi, sec, ms = 0;
    if (s.size() < 19 || s.size() > 23 || s[13] != ':' || s[16] != ':' || !digits(s, 11, 2, h) ||
        !digits(s, 14, 2, mi) || !digits(s, 17, 2, sec)) {
        return std::nullopt;
    }
    if (s.size() > 19) {
        const std::size_t n = s.size() - 20;
        if (s[19] != '.' || n == 0 || !digits(s, 20, n, ms)) return std::nullopt;
        for (std::size_t i = n; i < 3; ++i) ms *= 10;
    }
    if (h > 23 || mi > 59 || sec > 60) return std::nullopt;
    return (h * 60 + mi) * 60000 + sec * 1000 + ms;
}

std::optional<std::int64_t> dateTimeMs(std::string_view text) {
    const std::optional<std::int64_t> days = dateDays(text);
    const std::optional<std::int64_t> inDay = timeOfDayMs(text);
    if (!days || !inDay) return std::nullopt;
    return *days * 86400000 + *inDay;
}

std::string fileStamp(std::string_view dateTime) {
    if (dateTime.size() < 19) return {};
    std::string s;
    for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) s += dateTime[i];
    s += '_';
    for (std::size_t i : {11, 12, 14, 15, 17, 18}) s += dateTime[i];
    return s;
}

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
