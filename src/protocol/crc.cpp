#include "protocol/crc.h"

namespace keldrin {

std::uint16_t modbusCrc16(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t b : bytes) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit) {
            bool low = crc & 1u;
            crc >>= 1;
            if (low) crc ^= 0xA001;
        }
    }
    return crc;
}

}  // namespace keldrin
