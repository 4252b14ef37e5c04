// The receive path: every byte from the receiver box is echoed, collected, and cut
// into frames by length alone (the link has no start byte and no check value).
#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/echo.h"
#include "common/file_names.h"
#include "common/textnum.h"
#include "link/link.h"
#include "protocol/frames.h"
#include "protocol/rates.h"
#include "shell/shell.h"

namespace keldrin {

namespace {

// The first N received bytes as a frame; the buffer holds one byte (0..255) per element.
template <std::size_t N>
std::array<std::uint8_t, N> frameOf(const std::vector<std::int32_t>& received) {
    std::array<std::uint8_t, N> f;
    for (std::size_t i = 0; i < N; ++i) f[i] = static_cast<std::uint8_t>(received[i]);
    return f;
}

void takeMeasurement(App& a) {
    const std::optional<Measurement> m = parseMeasurement(frameOf<kMeasurementLength>(a.g.receiveBuffer));
    if (!m) {
        // A shifted window: wait out the rest of the burst, drop it, and start afresh
        // with the next frame. Noise would otherwise pile up 100 ms per 12 bytes.
        a.pause(100);
        a.s.port.discardBacklog();
        a.g.receiveBuffer.clear();
        return;
    }
    // Every row is tested: two rows set up for the same probe both show it.
    std::int64_t now = kNeverRead;
    std::string nowText;
    for (int i = 1; i <= kChannels; ++i) {
        const double q = textToFloat(a.w.地址(i).text());
        if (std::fabs(static_cast<double>(m->address) - q) > 1e-7) continue;
        if (textToInt(a.w.信道(i).text()) != m->channel) continue;
        const auto at = static_cast<std::size_t>(i);
        a.g.channelValues[at] = m->reading;
        a.g.silenceTicks = 0;
        if (now == kNeverRead) {
            now = a.s.clock.elapsedMs();
            nowText = a.s.clock.nowText();
        }
        a.g.channelReadAt[at] = now;
        a.g.channelReadTime[at] = nowText;
        ++a.g.probeFrames[at];
        if (a.s.publisher.enabled()) a.s.publisher.reading(i, static_cast<double>(m->reading), nowText);
    }
}

void takeParameterReply(App& a) {
    a.g.awaitingParameterReply = 0;  // used up by this frame, whatever it holds
    const std::optional<BoxParameters> p = parseParameterReply(frameOf<kParameterReplyLength>(a.g.receiveBuffer));
    if (!p) return;

    MainWin& w = a.w;
    w.编辑框1.setText(std::to_string(p->address));
    w.编辑框2.setText(std::to_string(p->channel));
    w.编辑框5.setText(w.编辑框1.text());
    w.编辑框6.setText(w.编辑框2.text());

    if (const BaudCode* b = findBaudCode(baudCodeOf(p->rateByte))) {
        w.编辑框3.setText(b->text);
        a.s.port.setBaudRate(b->baud);
        w.组合框1.setSelectedIndex(b->item);
    }
    // Remembered even when the code was unknown: the file then keeps the shown rate.
    a.s.files.writeAll(kBaudFile, w.编辑框3.text());

    if (const AirCode* c = findAirCode(airCodeOf(p->rateByte))) {
        w.编辑框4.setText(c->text);
        w.组合框2.setSelectedIndex(c->item);
    }

    w.按钮4.setEnabled(true);
    w.按钮5.setEnabled(true);
    reopenPort(a, a.s.port.baudRate());
}

}  // namespace

void 端口1_byteReceived(App& a, int byte) {
    ++a.g.link.bytesReceived;  // the link is alive, whatever the byte means
    a.g.receiveBuffer.push_back(byte & 0xFF);
    std::string echo;
    appendByteEcho(echo, byte);
    a.w.编辑框接收.appendText(echo);
    decodeReceiveBuffer(a);
}

void decodeReceiveBuffer(App& a) {
    const std::size_t n = a.g.receiveBuffer.size();
    const bool complete = n >= kMeasurementLength || (a.g.awaitingParameterReply != 0 && n >= kParameterReplyLength);
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
