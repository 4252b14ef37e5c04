// The housekeeping timers: the silence watchdog that realigns the receive stream,
// the alarm that beeps after silence, and the sync timer that keeps headings, the
// recording interval and the grid in step with the controls.
#include <cstdint>
#include <limits>
#include <string>

#include "common/textnum.h"
#include "receiver/receiver.h"

namespace keldrin {

namespace {

// More ticks than this without an accepted reading count as silence.
constexpr std::int32_t kSilentAfter = 2;

}  // namespace

void 时钟4清屏_tick(App& a) {
    MainWin& w = a.w;
    Globals& g = a.g;
    // Follows the poll interval. While the operator has emptied or zeroed the box to
    // type a new value, keep the current interval: interval 0 would stop the
    // watchdog (and with it the alarm) for the rest of the run.
    const std::int32_t interval = textToInt(w.间隔时间.text());
    if (interval > 0) w.时钟4清屏.setInterval(interval);

    w.编辑框7.setText(std::to_string(g.silenceTicks));  // the count before this tick
    if (a.acquiring() && g.silenceTicks < std::numeric_limits<std::int32_t>::max()) ++g.silenceTicks;
    // A partial frame left by a lost byte would shift every later frame; start afresh.
    if (g.silenceTicks > kSilentAfter) g.receiveBuffer.clear();
}

void 时钟5报警_tick(App& a) {
    if (a.g.silenceTicks > kSilentAfter && a.w.报警.checked()) a.s.beeper.beep();
}

void 时钟4_tick(App& a) {
    MainWin& w = a.w;
    for (int i = 1; i <= kChannels; ++i) w.表(i).setText(w.地址(i).text());
    // Re-assigned every tick; an unchanged interval leaves the recording countdown
    // running, so long intervals still come round.
    w.时钟5.setInterval(w.组合框3.selectedValue());
    w.数据表格.setEnabled(false);
}

}  // namespace keldrin
