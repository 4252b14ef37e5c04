#include "shell/handlers.h"
namespace keldrin {
void 端口1_byteReceived(App&, int) {}
void decodeReceiveBuffer(App&) {}
void 时钟2_tick(App&) {}
void 按钮发送_clicked(App&) {}
}  // namespace keldrin
