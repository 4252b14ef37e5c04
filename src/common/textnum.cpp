#include "common/textnum.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace keldrin {
namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}
bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view trimLeft(std::string_view t) {
    std::size_t i = 0;
    while (i < t.size() && isSpace(t[i])) ++i;
    return t.substr(i);
}

// Where the first significant digit of digits[.digits][e[sign]digits] stands: above 0
// for magnitudes of 1 and more, 0 or below for smaller ones (0 for zero itself).
std::int64_t decimalScale(std::string_view number) {
    std::size_t i = 0;
    std::int64_t scale = 0;
    bool significant = false;
    for (; i < number.size() && isDigit(number[i]); ++i) {
        if (number[i] != '0') significant = true;
        if (significant) ++scale;
    }
    if (i < number.size() && number[i] == '.') {
        for (++i; i < number.size() && isDigit(number[i]); ++i) {
            if (significant) continue;
            if (number[i] != '0') significant = true;
            else --scale;
        }
    }
    if (!significant) return 0;
    if (i < number.size() && (number[i] == 'e' || number[i] == 'E')) {
        // The exponent saturates: a million digits of it still says "huge".
        const std::int64_t e = textToInt64(number.substr(i + 1));
        if (e > 1'000'000'000) return 1'000'000'000;
        if (e < -1'000'000'000) return -1'000'000'000;
        scale += e;
    }
    return scale;
}

}  // namespace

std::int64_t textToInt64(std::string_view text) {
    std::string_view t = trimLeft(text);
    bool negative = false;
    std::size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
        negative = t[i] == '-';
        ++i;
    }
    // Accumulate as a negative number so that INT64_MIN is reachable exactly.
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    std::int64_t acc = 0;
    bool saturated = false;
    for (; i < t.size() && isDigit(t[i]); ++i) {
        if (saturated) continue;
        int d = t[i] - '0';
        if (acc < (kMin + d) / 10) {
            saturated = true;
            continue;
        }
        acc = acc * 10 - d;
    }
    if (saturated) return negative ? kMin : std::numeric_limits<std::int64_t>::max();
    if (negative) return acc;
    if (acc == kMin) return std::numeric_limits<std::int64_t>::max();
    return -acc;
}

std::int32_t textToInt(std::string_view text) {
    std::int64_t v = textToInt64(text);
    if (v > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (v < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

double textToDouble(std::string_view text) {
    std::string_view t = trimLeft(text);
    // Find the longest prefix of the form [sign] digits [. digits] [e [sign] digits]
    // ourselves, so that strtod never sees hex, "nan", "inf" or locale forms.
    std::size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    std::size_t intDigits = 0, fracDigits = 0;
    while (i + intDigits < t.size() && isDigit(t[i + intDigits])) ++intDigits;
    std::size_t end = i + intDigits;
    if (end < t.size() && t[end] == '.') {
        while (end + 1 + fracDigits < t.size() && isDigit(t[end + 1 + fracDigits])) ++fracDigits;
        if (intDigits + fracDigits > 0) end += 1 + fracDigits;
    }
    if (intDigits + fracDigits == 0) return 0.0;
    if (end < t.size() && (t[end] == 'e' || t[end] == 'E')) {
        std::size_t j = end + 1;
        if (j < t.size() && (t[j] == '+' || t[j] == '-')) ++j;
        std::size_t expDigits = 0;
        while (j + expDigits < t.size() && isDigit(t[j + expDigits])) ++expDigits;
        if (expDigits > 0) end = j + expDigits;
    }
    // from_chars, not strtod: the C library's locale may want a decimal comma.
    std::string_view number = t.substr(0, end);
    const bool negative = number.front() == '-';
    if (number.front() == '+' || negative) number.remove_prefix(1);
    double v = 0.0;
    const std::from_chars_result r = std::from_chars(number.data(), number.data() + number.size(), v);
    if (r.ec == std::errc::result_out_of_range) {
        // Too large saturates; too small is zero.
        if (decimalScale(number) > 0) return negative ? std::numeric_limits<double>::lowest() : std::numeric_limits<double>::max();
        return negative ? -0.0 : 0.0;
    }
    return negative ? -v : v;
}

float textToFloat(std::string_view text) {
    double v = textToDouble(text);
    if (v > std::numeric_limits<float>::max()) return std::numeric_limits<float>::max();
    if (v < std::numeric_limits<float>::lowest()) return std::numeric_limits<float>::lowest();
    return static_cast<float>(v);
}

std::int32_t truncToInt(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (value <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

}  // namespace keldrin
