#include "shell/handlers.h"
namespace keldrin {
void 启动_clicked(App&) {}
void 时钟5_tick(App&) {}
void 时钟3_tick(App&) {}
void 间隔时间_textChanged(App&) {}
void 清空按钮_clicked(App&) {}
void 存到文件按钮_clicked(App&) {}
void 从文件读按钮_clicked(App&) {}
void 按钮6_clicked(App&) {}
}  // namespace keldrin
