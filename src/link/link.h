#pragma once
// The receiver link: decoding received bytes, polling the probes, the zero command.
#include "shell/app.h"

namespace keldrin {

void 端口1_byteReceived(App& a, int byte);
void decodeReceiveBuffer(App& a);
void 时钟2_tick(App& a);
void 按钮发送_clicked(App& a);

}  // namespace keldrin
