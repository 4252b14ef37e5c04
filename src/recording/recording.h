#pragma once
// Acquisition control and recording, and the file buttons: save, read, export.
#include "shell/app.h"

namespace keldrin {

void 启动_clicked(App& a);
void 时钟5_tick(App& a);
void 时钟3_tick(App& a);
void 间隔时间_textChanged(App& a);
void 清空按钮_clicked(App& a);
void 存到文件按钮_clicked(App& a);
void 从文件读按钮_clicked(App& a);
void 按钮6_clicked(App& a);

}  // namespace keldrin
