#pragma once
// CRC-16/MODBUS: reflected polynomial 0xA001, initial value 0xFFFF, no final XOR.
#include <cstdint>
#include <span>

namespace keldrin {

std::uint16_t modbusCrc16(std::span<const std::uint8_t> bytes);

}  // namespace keldrin
