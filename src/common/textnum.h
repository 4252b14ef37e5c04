#pragma once
// The program's text-to-number conversions, all here. One rule for every number typed or
// read from a settings file:
//   surrounding white space is ignored, an optional sign is taken, then the longest
//   numeric prefix; a text with no numeric prefix gives 0; a value outside the target
//   type saturates to that type's limits. No input can cause undefined behaviour.
// The integer conversion reads digits only ("12.9" -> 12, "1e3" -> 1); the
// floating-point conversion also takes a fraction and an exponent ("1e3" -> 1000).
// "nan" and "inf" are not numbers here: they give 0.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string_view>
#include <system_error>

namespace keldrin {

std::int64_t textToInt64(std::string_view text);
std::int32_t textToInt(std::string_view text);
double textToDouble(std::string_view text);
float textToFloat(std::string_view text);

// Truncates toward zero and saturates to the 32-bit range (NaN gives 0).
std::int32_t truncToInt(double value);

namespace detail {
inline bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
}  // namespace detail

// A recorded cell's number, for the trend: stricter than the rule above, since a cell
// is a gap unless all of it is a finite number (no prefix is taken). Fast for the
// readings' own form; its answer in v, as a hot loop's caller gets it in a register
// this way, where an optional goes through memory and stalls it.
inline bool cellNumber(std::string_view s, float& v) {
    // The readings' own form first ("-12.345"): up to nine digits with an optional sign
    // and point, exact as a fraction of two doubles. Anything else goes the long way.
    if (!s.empty() && s.size() <= 11) {
        const char* p = s.data();
        const char* const end = p + s.size();
        const bool negative = *p == '-';
        p += negative;
        auto digit = [&] { return p != end && static_cast<unsigned char>(*p - '0') < 10; };
        std::uint32_t m = 0;
        const char* const whole = p;
        while (digit()) m = m * 10 + static_cast<std::uint32_t>(*p++ - '0');
        std::ptrdiff_t count = p - whole, decimals = 0;
        if (p != end && *p == '.') {
            const char* const fraction = ++p;
            while (digit()) m = m * 10 + static_cast<std::uint32_t>(*p++ - '0');
            decimals = p - fraction;
            count += decimals;
        }
        if (p == end && count > 0 && count <= 9) {
            static constexpr double kPow10[] = {1, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
            const double d = static_cast<double>(m) / kPow10[decimals];
            v = static_cast<float>(negative ? -d : d);
            return true;
        }
    }
    while (!s.empty() && detail::isSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && detail::isSpace(s.back())) s.remove_suffix(1);
    if (s.size() > 1 && s[0] == '+' && s[1] != '-') s.remove_prefix(1);
    if (s.empty()) return false;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
    return ec == std::errc() && end == s.data() + s.size() && std::isfinite(v);
}

}  // namespace keldrin
