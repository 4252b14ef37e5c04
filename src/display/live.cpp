// The live display: every reading as a caption and as a bar standing on (or hanging
// from) its channel's zero line, and the clock and frame counters.
#include <string>

#include "common/messages.h"
#include "common/textnum.h"
#include "common/texts.h"
#include "display/display.h"
#include "shell/freshness.h"

namespace keldrin {

namespace {

constexpr int kZeroLineBelowAddress = 12;  // the zero line, below the top of 地址i
constexpr double kPixelsPerUnit = 3.0;
constexpr double kBelowZero = -1e-7;

void showChannel(MainWin& w, int i, double v) {
    Label& value = w.CT(i);
    PictureBox& bar = w.图片框(i);
    const int addressTop = w.地址(i).top();
    value.setText(readingText(v));
    // Height first, then positions from what the controls kept, so a clamped
    // height still leaves bar and label consistent.
    if (v < kBelowZero) {
        bar.setHeight(truncToInt(-v * kPixelsPerUnit + 1));
        bar.setTop(addressTop + kZeroLineBelowAddress);
        value.setTop(addressTop + bar.height() + 22);
    } else {
        bar.setHeight(truncToInt(v * kPixelsPerUnit + 1));
        bar.setTop(addressTop + kZeroLineBelowAddress - bar.height());
        value.setTop(bar.top() - 40);
    }
}

}  // namespace

void 时钟1_tick(App& a) {
    MainWin& w = a.w;
    w.系统时间.setText(a.s.clock.nowText());
    if (a.s.publisher.enabled()) {
        // The whole line in its tip too: a long reason does not fit beside the clock.
        const std::string state = a.s.publisher.stateText();
        w.发布状态.setText(state);
        w.发布状态.setToolTip(state);
        if (const std::optional<std::string> notice = a.s.publisher.takeNotice()) {
            a.s.boxes.show(*notice, Buttons::Ok, Icon::Warning, "");
        }
    }
    w.标签发送.setText(std::to_string(a.g.sentFrameCount) + "   发送：");
    w.标签接收.setText(std::to_string(a.g.receivedFrameCount) + "   接收：");
    // A probe that stopped answering keeps its last value on screen, greyed, so the
    // operator sees both what it said and that it no longer says it.
    const PerChannel<bool> stale = a.acquiring() ? staleChannels(a) : PerChannel<bool>{};
    for (int i = 1; i <= kChannels; ++i) {
        const auto at = static_cast<std::size_t>(i);
        showChannel(w, i, static_cast<double>(a.g.channelValues[at]));
        w.CT(i).setStale(stale[at]);
        w.图片框(i).setStale(stale[at]);
        w.CT(i).setToolTip(msg::readingTip(timeOfDay(a.g.channelReadTime[at]), a.g.probePolls[at], a.g.probeFrames[at]));
    }
}

}  // namespace keldrin
