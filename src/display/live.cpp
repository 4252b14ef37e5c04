// The live display: every reading as a caption and as a bar standing on (or hanging
// from) its channel's zero line, and the clock and frame counters.
#include <string>

#include "common/textnum.h"
#include "common/texts.h"
#include "display/display.h"

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
    w.标签发送.setText(std::to_string(a.g.sentFrameCount) + "   发送：");
    w.标签接收.setText(std::to_string(a.g.receivedFrameCount) + "   接收：");
    for (int i = 1; i <= 8; ++i) {
        showChannel(w, i, static_cast<double>(a.g.channelValues[static_cast<std::size_t>(i)]));
    }
}

}  // namespace keldrin
