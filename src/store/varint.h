#pragma once
// Unsigned little-endian base-128 numbers, as the store packs its rows and the table
// file carries them: seven bits a byte, low bits first, the high bit set on every byte
// but the last.
#include <cstddef>
#include <cstdint>

namespace keldrin::varint {

inline std::size_t size(std::uint64_t v) {
    std::size_t n = 1;
    while (v >= 0x80) {
        v >>= 7;
        ++n;
    }
    return n;
}

inline char* put(char* p, std::uint64_t v) {
    while (v >= 0x80) {
        *p++ = static_cast<char>((v & 0x7F) | 0x80);
        v >>= 7;
    }
    *p++ = static_cast<char>(v);
    return p;
}

// For bytes known to be well-formed: no bounds to check.
inline const char* get(const char* p, std::uint64_t& v) {
    auto b = static_cast<unsigned char>(*p++);
    v = b & 0x7F;
    for (int shift = 7; b & 0x80; shift += 7) {
        b = static_cast<unsigned char>(*p++);
        v |= static_cast<std::uint64_t>(b & 0x7F) << shift;
    }
    return p;
}

// For bytes from outside, [p, end): the shortest form only (one encoding per value),
// at most max. False when it is truncated, overlong or larger; p is then left alone.
inline bool getChecked(const char*& p, const char* end, std::uint64_t max, std::uint64_t& v) {
    if (p != end && static_cast<unsigned char>(*p) < 0x80) {  // the usual one-byte number
        if (static_cast<unsigned char>(*p) > max) return false;
        v = static_cast<unsigned char>(*p++);
        return true;
    }
    std::uint64_t result = 0;
    const char* q = p;
    for (int shift = 0; shift < 64; shift += 7) {
        if (q == end) return false;
        const auto b = static_cast<unsigned char>(*q++);
        const std::uint64_t bits = b & 0x7F;
        if (shift == 63 && bits > 1) return false;
        result |= bits << shift;
        if (!(b & 0x80)) {
            if ((b == 0 && shift > 0) || result > max) return false;
            p = q;
            v = result;
            return true;
        }
    }
    return false;
}

}  // namespace keldrin::varint
