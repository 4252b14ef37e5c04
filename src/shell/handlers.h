#pragma once
// Every event handler of the program, named after its control and event, and the
// shared steps the handlers call.
#include "shell/app.h"

namespace keldrin {

// Start-up, connection and port dialog.
void startUpSequence(App& a);
void startUpConnection(App& a);
void 连接_chosen(App& a);
void 端口设置_chosen(App& a);
void portScan(App& a, PortWin& d);
void PortWin_组合框1_itemChosen(App& a, PortWin& d);
void PortWin_按钮1_clicked(App& a, PortWin& d);
void 按钮1_clicked(App& a);
void 按钮2_clicked(App& a);
void 按钮清空_clicked(App& a);

// Receiver link.
void 端口1_byteReceived(App& a, int byte);
void decodeReceiveBuffer(App& a);
void 时钟2_tick(App& a);
void 按钮发送_clicked(App& a);

// Display.
void 时钟1_tick(App& a);
void 按钮7_clicked(App& a);
void 按钮8_clicked(App& a);
void loadZoom(App& a);

// Receiver configuration and housekeeping.
void reopenPort(App& a, int baud);
void 按钮3_clicked(App& a);
void 按钮4_clicked(App& a);
void 按钮5_clicked(App& a);
void modbusCrc16(Globals& g);  // over bindPayload's first crcLength bytes, into crcValue
void 时钟4清屏_tick(App& a);
void 时钟5报警_tick(App& a);
void 时钟4_tick(App& a);

// Acquisition and records.
void 启动_clicked(App& a);
void 时钟5_tick(App& a);
void 时钟3_tick(App& a);
void 间隔时间_textChanged(App& a);
void 清空按钮_clicked(App& a);
void 存到文件按钮_clicked(App& a);
void 从文件读按钮_clicked(App& a);
void 按钮6_clicked(App& a);

// Connects every event of the window to its handler (the program's event wiring).
void wireEvents(App& a);

}  // namespace keldrin
