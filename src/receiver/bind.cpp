// Binding the ticked probes to the receiver box: each probe is told the receiver's
// address and radio channel with a Modbus write of registers 0x3039..0x303A, routed
// by the receiver box to the probe's own address and channel.
#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

#include "protocol/crc.h"
#include "common/echo.h"
#include "common/textnum.h"
#include "receiver/receiver.h"
#include "shell/shell.h"

namespace keldrin {

namespace {

// Probe address 3, channel 28, then the payload for receiver 2 on channel 23 with its CRC.
constexpr std::array<std::uint8_t, 15> kBindTemplate = {0x00, 0x03, 0x1C, 0x10, 0x30, 0x39, 0x00, 0x02,
                                                        0x04, 0x00, 0x02, 0x00, 0x17, 0xF7, 0x01};
constexpr std::size_t kHeadSize = 3;       // probe address high, low, radio channel
constexpr std::size_t kPayloadSize = 12;   // bytes 3..14 of the frame
constexpr std::int32_t kCrcCovered = 10;   // bytes 3..12

std::uint8_t low8(std::int32_t v) { return static_cast<std::uint8_t>(v & 0xFF); }
std::uint8_t high8(std::int32_t v) { return static_cast<std::uint8_t>((v >> 8) & 0xFF); }

}  // namespace

void modbusCrc16(Globals& g) {
    // Never read past the list, whatever crcLength holds.
    const std::size_t n =
        std::min(g.bindPayload.size(), static_cast<std::size_t>(std::max<std::int32_t>(g.crcLength, 0)));
    g.crcValue = modbusCrc16(std::span<const std::uint8_t>(g.bindPayload.data(), n));
}

void 按钮5_clicked(App& a) {
    MainWin& w = a.w;
    Globals& g = a.g;

    // The receiver's values come from a fresh read; its reply is decoded only after
    // this handler returns.
    按钮3_clicked(a);

    // The probes are reached at the receiver's own serial rate; the extra pause lets
    // the box settle after the switch.
    reopenPort(a, textToInt(w.编辑框3.text()));
    a.pause(100);

    std::array<std::uint8_t, 15> frame = kBindTemplate;
    g.bindPayload.assign(frame.begin() + kHeadSize, frame.begin() + kHeadSize + kPayloadSize);

    const std::int32_t receiver = textToInt(w.编辑框1.text());
    g.bindPayload[6] = high8(receiver);
    g.bindPayload[7] = low8(receiver);
    g.bindPayload[9] = low8(textToInt(w.编辑框2.text()));  // byte 8 (register high) stays 0

    g.crcLength = kCrcCovered;
    modbusCrc16(g);
    g.bindPayload[10] = low8(g.crcValue);  // low byte first
    g.bindPayload[11] = high8(g.crcValue);
    std::copy(g.bindPayload.begin(), g.bindPayload.end(), frame.begin() + kHeadSize);

    for (int i = 1; i <= 8; ++i) {
        if (w.选择框(i).checked()) {
            const std::int32_t probe = textToInt(w.地址(i).text());
            frame[0] = high8(probe);
            frame[1] = low8(probe);
            frame[2] = low8(textToInt(w.信道(i).text()));
            a.s.port.send(frame);
        }
        // Unticked channels still take their 50 ms and re-show the frame as it stands.
        a.pause(50);
        w.编辑框发送.setText("");
        w.编辑框发送.setText(frameEcho(frame));
    }
}

}  // namespace keldrin
