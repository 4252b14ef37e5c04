// Start-up, select all/none, clearing the echo.
#include <string>

#include "shell/handlers.h"

namespace keldrin {

void startUpSequence(App& a) {
    a.g.pollFrame = {0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x03, 0x20, 0x01};
    startUpConnection(a);
    MainWin& w = a.w;
    w.数据表格.bind(&w.数据源1);
    w.数据源1.bind(&w.通用提供者1);
    w.数据源1.applyStyle(0xC0C0C0, 5, true);
    w.通用提供者1.setRowCount(0);
    w.通用提供者1.setColumnCount(9);
    w.屏幕宽度.setText(std::to_string(a.s.screen.width()));
    w.屏幕高度.setText(std::to_string(a.s.screen.height()));
    loadZoom(a);
}

void 按钮1_clicked(App& a) {
    for (int i = 1; i <= 8; ++i) a.w.选择框(i).setChecked(true);
}

void 按钮2_clicked(App& a) {
    for (int i = 1; i <= 8; ++i) a.w.选择框(i).setChecked(false);
}

void 按钮清空_clicked(App& a) {
    a.w.编辑框接收.setText("");
    a.g.sentFrameCount = 0;
    a.g.receivedFrameCount = 0;
}

}  // namespace keldrin
