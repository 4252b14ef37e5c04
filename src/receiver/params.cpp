// Reading and writing the receiver box's own parameters (address, radio channel,
// serial rate, air rate). The box answers only while its key is held, and always at
// 9600 baud, so both commands switch the port to 9600 first. The answer is decoded
// by the receive path, which expects it because awaitingParameterReply is set.
#include <array>
#include <cstdint>

#include "common/echo.h"
#include "common/textnum.h"
#include "receiver/receiver.h"
#include "shell/shell.h"

namespace keldrin {

namespace {

constexpr int kConfigBaud = 9600;
constexpr std::uint8_t kMaxRadioChannel = 50;

// Drops whatever was half received and makes the decoder cut the next 9 bytes as
// the box's parameter reply.
void expectParameterReply(App& a) {
    a.g.receiveBuffer.clear();
    a.g.awaitingParameterReply = 1;
}

}  // namespace

void 按钮3_clicked(App& a) {
    reopenPort(a, kConfigBaud);
    expectParameterReply(a);
    static constexpr std::uint8_t kRead[] = {0xC1, 0x00, 0x06};
    a.s.port.send(kRead);
    a.w.编辑框发送.setText("C1 0 6");  // fixed text, unlike the frame echo: no trailing space
}

void 按钮4_clicked(App& a) {
    reopenPort(a, kConfigBaud);
    expectParameterReply(a);
    MainWin& w = a.w;
    std::array<std::uint8_t, 9> cmd = {0xC0, 0x00, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40};

    // The quotient by 256 truncated toward zero and the remainder, each cut to its low
    // 8 bits: 0..65535 gives exactly its two bytes, "-1" gives 00 FF.
    const std::int32_t address = textToInt(w.编辑框5.text());
    cmd[3] = static_cast<std::uint8_t>((address / 256) & 0xFF);
    cmd[4] = static_cast<std::uint8_t>((address % 256) & 0xFF);

    // An unselected box contributes 0 (selectedValue()).
    cmd[5] = static_cast<std::uint8_t>((w.组合框1.selectedValue() + w.组合框2.selectedValue()) & 0xFF);

    // The box has channels 0..50; cut to a byte first, then clamp, and show the
    // operator what is really written.
    std::uint8_t channel = static_cast<std::uint8_t>(textToInt(w.编辑框6.text()) & 0xFF);
    if (channel > kMaxRadioChannel) {
        channel = kMaxRadioChannel;
        w.编辑框6.setText("50");
    }
    cmd[7] = channel;

    a.s.port.send(cmd);
    w.编辑框发送.setText(frameEcho(cmd));
}

}  // namespace keldrin
