#include "shell/probe_rows.h"

#include "common/echo.h"
#include "common/textnum.h"
#include "protocol/frames.h"

namespace keldrin {

void sendToTickedProbes(App& a, std::span<std::uint8_t> frame) {
    MainWin& w = a.w;
    for (int i = 1; i <= kChannels; ++i) {
        if (w.选择框(i).checked()) {
            putProbeHead(frame, textToInt(w.地址(i).text()), textToInt(w.信道(i).text()));
            a.s.port.send(frame);
        }
        // The same spacing for every row keeps a click's timing independent of the ticks.
        a.pause(50);
        w.编辑框发送.setText("");
        w.编辑框发送.setText(frameEcho(frame));
    }
}

}  // namespace keldrin
