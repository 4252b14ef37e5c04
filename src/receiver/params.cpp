// Reading and writing the receiver box's own parameters (address, radio channel,
// serial rate, air rate). The box answers only while its key is held, and always at
// 9600 baud, so both commands switch the port to 9600 first. The answer is decoded
// by the receive path, which expects it because awaitingParameterReply is set.
#include <cstdint>

#include "common/echo.h"
#include "common/textnum.h"
#include "protocol/frames.h"
#include "receiver/receiver.h"
#include "shell/shell.h"

namespace keldrin {

namespace {

// Drops whatever was half received and makes the decoder cut the next 9 bytes as
// the box's parameter reply.
void expectParameterReply(App& a) {
    a.g.receiveBuffer.clear();
    a.g.awaitingParameterReply = 1;
}

}  // namespace

void sendParameterRead(App& a) {
    reopenPort(a, kParameterBaud);
    expectParameterReply(a);
    a.s.port.send(kParameterRead);
    a.w.编辑框发送.setText("C1 0 6");  // fixed text, unlike the frame echo: no trailing space
}

void 按钮3_clicked(App& a) { sendParameterRead(a); }

void 按钮4_clicked(App& a) {
    reopenPort(a, kParameterBaud);
    expectParameterReply(a);
    MainWin& w = a.w;
    const std::int32_t address = textToInt(w.编辑框5.text());
    // The items' values are the codes in place; an unselected box contributes 0.
    const std::int32_t rateByte = w.组合框1.selectedValue() + w.组合框2.selectedValue();

    // The box has channels 0..50; cut to a byte first, then clamp, and show the
    // operator what is really written.
    std::uint8_t channel = static_cast<std::uint8_t>(textToInt(w.编辑框6.text()) & 0xFF);
    if (channel > kMaxRadioChannel) {
        channel = kMaxRadioChannel;
        w.编辑框6.setText("50");
    }
    const auto cmd = parameterWrite(address, rateByte, channel);
    a.s.port.send(cmd);
    w.编辑框发送.setText(frameEcho(cmd));
}

}  // namespace keldrin
