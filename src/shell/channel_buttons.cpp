// Select all, select none, and emptying the receive echo with both frame counters.
#include "shell/shell.h"

namespace keldrin {

void 按钮1_clicked(App& a) {
    for (int i = 1; i <= kChannels; ++i) a.w.选择框(i).setChecked(true);
}

void 按钮2_clicked(App& a) {
    for (int i = 1; i <= kChannels; ++i) a.w.选择框(i).setChecked(false);
}

void 按钮清空_clicked(App& a) {
    a.w.编辑框接收.setText("");
    a.g.sentFrameCount = 0;
    a.g.receivedFrameCount = 0;
}

}  // namespace keldrin
