#pragma once
// The frame echo shown to the operator: every byte as uppercase hexadecimal digits
// without leading zeros, each followed by one space (0x00 -> "0 ", 0x1C -> "1C ").
#include <cstdint>
#include <span>
#include <string>

namespace keldrin {

// Appends the echo of one byte (value 0..255) to out.
void appendByteEcho(std::string& out, int byte);
std::string frameEcho(std::span<const std::uint8_t> bytes);

}  // namespace keldrin
