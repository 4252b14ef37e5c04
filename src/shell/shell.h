#pragma once
// The application shell's handlers: connection, the port dialog, the channel buttons,
// the view menu, and the port reopening every configuration command shares.
#include <cstdint>

#include "shell/app.h"

namespace keldrin {

void startUpConnection(App& a);
void 连接_chosen(App& a);
void 端口设置_chosen(App& a);
// Edits 发布.ini; saved settings take effect at once.
void 发布设置_chosen(App& a);
void portScan(App& a, PortWin& d);
void PortWin_组合框1_itemChosen(App& a, PortWin& d);
void PortWin_按钮1_clicked(App& a, PortWin& d);
void 按钮1_clicked(App& a);
void 按钮2_clicked(App& a);
void 按钮清空_clicked(App& a);
void 趋势图_chosen(App& a);

// Pauses 100 ms, closes 端口1, pauses, reopens it at baud, pauses: 300 ms in all.
// When the port was open and will not open again, its device is taken as gone.
void reopenPort(App& a, int baud);

// The link's upkeep (port_healing.cpp). The port's device went away: the port is closed.
void 端口1_lost(App& a);
// Once a second: a lost port is tried again; a port that has received nothing for
// kQuietReopenMs while acquisition runs is opened afresh.
void linkTimer_tick(App& a);
inline constexpr std::int64_t kQuietReopenMs = 30000;
// The port is gone: tried again by linkTimer_tick, and the title says so.
void healPort(App& a);
// The port opened again: what 连接 does after its open, and the next frame aligned.
void portBack(App& a);
// Tells the publisher the port's name and state, when publishing is on.
void reportPortState(App& a);

}  // namespace keldrin
