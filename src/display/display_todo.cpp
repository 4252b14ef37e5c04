#include "shell/handlers.h"
namespace keldrin {
void 时钟1_tick(App&) {}
void 按钮7_clicked(App&) {}
void 按钮8_clicked(App&) {}
void loadZoom(App&) {}
}  // namespace keldrin
