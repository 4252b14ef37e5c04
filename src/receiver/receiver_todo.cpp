#include "shell/handlers.h"
namespace keldrin {
void reopenPort(App& a, int baud) {
    a.s.port.setBaudRate(baud);
    a.pause(100);
    a.s.port.close();
    a.pause(100);
    a.s.port.open();  // the outcome is not examined
    a.pause(100);
}
void 按钮3_clicked(App&) {}
void 按钮4_clicked(App&) {}
void 按钮5_clicked(App&) {}
void modbusCrc16(Globals&) {}
void 时钟4清屏_tick(App&) {}
void 时钟5报警_tick(App&) {}
void 时钟4_tick(App&) {}
}  // namespace keldrin
