#pragma once
// Receiver configuration and housekeeping: parameter commands, probe binding, the
// silence watchdog, the alarm and the heading sync.
#include "shell/app.h"

namespace keldrin {

// Reopens at 9600, expects the reply, sends the read command: 按钮3 and binding share it.
void sendParameterRead(App& a);
void 按钮3_clicked(App& a);
void 按钮4_clicked(App& a);
void 按钮5_clicked(App& a);
void modbusCrc16(Globals& g);  // over bindPayload's first crcLength bytes, into crcValue
void 时钟4清屏_tick(App& a);
void 时钟5报警_tick(App& a);
void 时钟4_tick(App& a);

}  // namespace keldrin
