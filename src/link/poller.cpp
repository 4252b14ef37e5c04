// The poller: one request per tick to the next ticked channel, in rotation.
#include <cstdint>
#include <span>

#include "common/echo.h"
#include "common/textnum.h"
#include "link/link.h"
#include "protocol/frames.h"

namespace keldrin {

namespace {

// The first ticked channel in from..8, else in 1..8; 0 when none is ticked.
int nextTickedChannel(MainWin& w, int from) {
    for (int c = from; c <= kChannels; ++c) {
        if (w.选择框(c).checked()) return c;
    }
    for (int c = 1; c <= kChannels; ++c) {
        if (w.选择框(c).checked()) return c;
    }
    return 0;
}

}  // namespace

void 时钟2_tick(App& a) {
    Globals& g = a.g;
    if (g.nextPollChannel > 8) g.nextPollChannel = 1;
    const int from = g.nextPollChannel < 1 ? 1 : g.nextPollChannel;
    const int c = nextTickedChannel(a.w, from);

    // The rotation advances whether or not acquisition runs, so the first request
    // after a start goes to whichever channel is due.
    if (c != 0) {
        const std::int32_t address = truncToInt(textToDouble(a.w.地址(c).text()));
        const std::int32_t channel = truncToInt(textToDouble(a.w.信道(c).text()));
        if (g.pollFrame.size() != kPollLength) {  // start-up normally sets it
            g.pollFrame.assign(kPollTemplate.begin(), kPollTemplate.end());
        }
        putProbeHead(g.pollFrame, address, channel);
        g.nextPollChannel = c == 8 ? 1 : c + 1;
    }

    const bool acquiring = a.acquiring();
    if (acquiring && c != 0) {
        std::span<const std::uint8_t> request(g.pollFrame.data(), kPollLength);
        a.s.port.send(request);
        ++g.sentFrameCount;
        // What the probe was really asked: a send on a lost port goes nowhere.
        if (a.s.port.isOpen()) ++g.probePolls[static_cast<std::size_t>(c)];
        a.w.编辑框发送.setText(frameEcho(request));
    }

    // Receiver configuration would fight the polling for the port.
    if (acquiring) {
        a.w.按钮3.setEnabled(false);
        a.w.按钮4.setEnabled(false);
        a.w.按钮5.setEnabled(false);
    } else {
        a.w.按钮3.setEnabled(true);
    }
}

}  // namespace keldrin
