// The receive path: every byte from the receiver box is echoed, collected, and cut
// into frames by length alone (the link has no start byte and no check value).
#include <cmath>
#include <cstdlib>
#include <string>

#include "common/echo.h"
#include "common/textnum.h"
#include "link/link.h"
#include "shell/shell.h"

namespace keldrin {

namespace {

constexpr std::size_t kMeasurementLength = 12;
constexpr std::size_t kReplyLength = 9;

struct BaudCode {
    int code;
    const char* text;
    int baud;
    int item;
};
constexpr BaudCode kBaudCodes[] = {
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
constexpr AirCode kAirCodes[] = {
    {5, "低", 0},
    {6, "中", 1},
    {7, "高", 2},
};

// The reading in thousandths, worked out in double and only then narrowed, so that
// -(65536 - m) / 1000 rounds once.
float readingOf(int signByte, int magnitude) {
    double v = magnitude / 1000.0;
    if (signByte == 0x01) v = -(magnitude / 1000.0);
    if (signByte == 0xFF) v = -(65536 - magnitude) / 1000.0;
    return static_cast<float>(v);
}

void takeMeasurement(App& a) {
    const std::vector<std::int32_t>& f = a.g.receiveBuffer;
    if (f[3] != 0x06) {
        // A shifted window: wait out the rest of the burst, drop it, and start afresh
        // with the next frame. Noise would otherwise pile up 100 ms per 12 bytes.
        a.pause(100);
        a.s.port.discardBacklog();
        a.g.receiveBuffer.clear();
        return;
    }
    const float value = readingOf(f[5], f[6] * 256 + f[7]);
    const int address = f[0] * 256 + f[1];
    const int channel = f[2];
    // Every row is tested: two rows set up for the same probe both show it.
    for (int i = 1; i <= 8; ++i) {
        const double q = textToFloat(a.w.地址(i).text());
        if (std::fabs(static_cast<double>(address) - q) > 1e-7) continue;
        if (textToInt(a.w.信道(i).text()) != channel) continue;
        a.g.channelValues[static_cast<std::size_t>(i)] = value;
        a.g.silenceTicks = 0;
    }
}

void takeParameterReply(App& a) {
    a.g.awaitingParameterReply = 0;  // used up by this frame, whatever it holds
    const std::vector<std::int32_t> f = a.g.receiveBuffer;
    if (f[0] != 0xC1 || f[1] != 0x00 || f[2] != 0x06) return;

    MainWin& w = a.w;
    w.编辑框1.setText(std::to_string(f[3] * 256 + f[4]));
    w.编辑框2.setText(std::to_string(f[7]));
    w.编辑框5.setText(w.编辑框1.text());
    w.编辑框6.setText(w.编辑框2.text());

    const int baudCode = f[5] >> 4;
    for (const BaudCode& b : kBaudCodes) {
        if (b.code != baudCode) continue;
        w.编辑框3.setText(b.text);
        a.s.port.setBaudRate(b.baud);
        w.组合框1.setSelectedIndex(b.item);
    }
    // Remembered even when the code was unknown: the file then keeps the shown rate.
    a.s.files.writeAll("波特率.txt", w.编辑框3.text());

    const int airCode = f[5] & 0x0F;
    for (const AirCode& c : kAirCodes) {
        if (c.code != airCode) continue;
        w.编辑框4.setText(c.text);
        w.组合框2.setSelectedIndex(c.item);
    }

    w.按钮4.setEnabled(true);
    w.按钮5.setEnabled(true);
    reopenPort(a, a.s.port.baudRate());
}

}  // namespace

void 端口1_byteReceived(App& a, int byte) {
    a.g.receiveBuffer.push_back(byte & 0xFF);
    std::string echo;
    appendByteEcho(echo, byte);
    a.w.编辑框接收.appendText(echo);
    decodeReceiveBuffer(a);
}

void decodeReceiveBuffer(App& a) {
    const std::size_t n = a.g.receiveBuffer.size();
    const bool complete = n >= kMeasurementLength || (a.g.awaitingParameterReply != 0 && n >= kReplyLength);
    if (!complete) return;

    a.w.编辑框接收.appendText("\r\n");
    if (a.g.awaitingParameterReply == 0) {
        takeMeasurement(a);
    } else {
        takeParameterReply(a);
    }
    ++a.g.receivedFrameCount;
    a.g.receiveBuffer.clear();
}

}  // namespace keldrin
