#include "common/echo.h"

namespace keldrin {

void appendByteEcho(std::string& out, int byte) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    byte &= 0xFF;
    if (byte >= 0x10) out.push_back(kHex[byte >> 4]);
    out.push_back(kHex[byte & 0x0F]);
    out.push_back(' ');
}

std::string frameEcho(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size() * 3);
    for (std::uint8_t b : bytes) appendByteEcho(out, b);
    return out;
}

}  // namespace keldrin
