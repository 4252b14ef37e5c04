#pragma once
// The table file written by 存到文件 and read by 从文件读.
//
// Layout (integers little-endian):
//   8 bytes  magic  89 4B 4C 44 54 0D 0A 1A  ("\x89KLDT\r\n\x1A")
//   u32      format version (1)
//   u32      row count, u32 column count
//   per row: varint(byte length of the row's cells), then per column
//            varint(byte length of the text) and the text, empty cells included
//   4 bytes  end marker "KEND"
//   u32      CRC-32 (IEEE) of every byte before it
// The magic's high byte and CR LF catch text-mode transfers; the checksum catches the
// rest. Every row and every cell takes at least one byte, so counts that the file
// cannot really hold are refused before anything is allocated for them.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace keldrin {

class RecordStore;

namespace tablefile {

inline constexpr std::string_view kMagic{"\x89KLDT\r\n\x1A", 8};
inline constexpr std::string_view kEndMarker{"KEND", 4};
inline constexpr std::uint32_t kVersion = 1;

// Streams the whole table to sink in pieces; false as soon as sink fails.
bool write(const RecordStore& table, const std::function<bool(std::string_view)>& sink);
// The whole file in memory (for small tables and tests).
std::string encode(const RecordStore& table);

// Validates bytes as a whole and fills into (which must be empty) with its table. On
// failure into is left empty and error says why, in Chinese.
bool read(std::string_view bytes, RecordStore& into, std::string* error);

std::uint32_t crc32(std::uint32_t crc, std::string_view bytes);

}  // namespace tablefile
}  // namespace keldrin
