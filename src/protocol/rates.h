#pragma once
// The receiver box's rate codes: the serial baud code in the high nibble of its rate
// byte, the air rate code in the low one. Each table lists the codes in the order of
// the window's selection boxes (item).
#include <cstddef>
#include <iterator>

namespace keldrin {

struct BaudCode {
    int code;
    const char* text;
    int baud;
    int item;
};
inline constexpr BaudCode kBaudCodes[] = {
    {6, "9600", 9600, 0},
    {8, "19200", 19200, 1},
    {10, "38400", 38400, 2},
    {14, "115200", 115200, 3},
};

struct AirCode {
    int code;
    const char* text;
    int item;
};
inline constexpr AirCode kAirCodes[] = {
    {5, "低", 0},
    {6, "中", 1},
    {7, "高", 2},
};

// The tables are in item order.
static_assert([] {
    for (std::size_t i = 0; i < std::size(kBaudCodes); ++i) {
        if (kBaudCodes[i].item != static_cast<int>(i)) return false;
    }
    for (std::size_t i = 0; i < std::size(kAirCodes); ++i) {
        if (kAirCodes[i].item != static_cast<int>(i)) return false;
    }
    return true;
}());

constexpr int baudCodeOf(int rateByte) { return rateByte >> 4; }
constexpr int airCodeOf(int rateByte) { return rateByte & 0x0F; }

// Null when the code is unknown.
const BaudCode* findBaudCode(int code);
const AirCode* findAirCode(int code);
// The baud rate of a baud code; 0 when unknown.
int baudForCode(int code);

}  // namespace keldrin
