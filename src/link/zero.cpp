// The zero command: a write of 0 to register 0 of every ticked probe, row by row.
#include <array>
#include <cstdint>

#include "common/echo.h"
#include "common/textnum.h"
#include "link/link.h"

namespace keldrin {

void 按钮发送_clicked(App& a) {
    // Bytes 3..9: function 6, register 0, value 0, and their fixed CRC 0x00AC.
    constexpr std::array<std::uint8_t, 10> kTemplate = {0x00, 0x06, 0x1C, 0x06, 0x00, 0x00, 0x00, 0x00, 0xAC, 0x00};

    a.pause(100);
    std::array<std::uint8_t, 10> command = kTemplate;
    for (int i = 1; i <= 8; ++i) {
        if (a.w.选择框(i).checked()) {
            const std::int32_t address = textToInt(a.w.地址(i).text());
            const std::int32_t channel = textToInt(a.w.信道(i).text());
            command[0] = static_cast<std::uint8_t>((address >> 8) & 0xFF);
            command[1] = static_cast<std::uint8_t>(address & 0xFF);
            command[2] = static_cast<std::uint8_t>(channel & 0xFF);
            a.s.port.send(command);
        }
        // The same spacing for every row keeps a click's timing independent of the ticks.
        a.pause(50);
        a.w.编辑框发送.setText("");
        a.w.编辑框发送.setText(frameEcho(command));
    }
    a.pause(100);
}

}  // namespace keldrin
