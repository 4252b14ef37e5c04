#pragma once
// The application shell's handlers: connection, the port dialog, the channel buttons,
// the view menu, and the port reopening every configuration command shares.
#include "shell/app.h"

namespace keldrin {

void startUpConnection(App& a);
void 连接_chosen(App& a);
void 端口设置_chosen(App& a);
void portScan(App& a, PortWin& d);
void PortWin_组合框1_itemChosen(App& a, PortWin& d);
void PortWin_按钮1_clicked(App& a, PortWin& d);
void 按钮1_clicked(App& a);
void 按钮2_clicked(App& a);
void 按钮清空_clicked(App& a);
void 趋势图_chosen(App& a);

// Pauses 100 ms, closes 端口1, pauses, reopens it at baud, pauses: 300 ms in all.
void reopenPort(App& a, int baud);

}  // namespace keldrin
