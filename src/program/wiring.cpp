#include "program/program.h"

namespace keldrin {

void wireEvents(App& a) {
    MainWin& w = a.w;
    w.menuItem("连接")->chosen = [&a] { 连接_chosen(a); };
    w.menuItem("端口设置")->chosen = [&a] { 端口设置_chosen(a); };
    w.menuItem("发布设置")->chosen = [&a] { 发布设置_chosen(a); };
    w.menuItem("趋势图")->chosen = [&a] { 趋势图_chosen(a); };
    for (const char* idle : {"密码管理", "数据备份", "关机", "重启", "休眠"}) {
        w.menuItem(idle)->chosen = [] {};
    }
    a.s.port.connectBytes(a.s.dispatcher, [&a](int b) { 端口1_byteReceived(a, b); });
    a.s.port.connectLost(a.s.dispatcher, [&a] { 端口1_lost(a); });
    w.linkTimer.tick = [&a] { linkTimer_tick(a); };

    w.启动.clicked = [&a] { 启动_clicked(a); };
    w.间隔时间.textChanged = [&a] { 间隔时间_textChanged(a); };
    w.时钟1.tick = [&a] { 时钟1_tick(a); };
    w.时钟2.tick = [&a] { 时钟2_tick(a); };
    w.时钟3.tick = [&a] { 时钟3_tick(a); };
    w.时钟4.tick = [&a] { 时钟4_tick(a); };
    w.时钟4清屏.tick = [&a] { 时钟4清屏_tick(a); };
    w.时钟5.tick = [&a] { 时钟5_tick(a); };
    w.时钟5报警.tick = [&a] { 时钟5报警_tick(a); };
    w.清空按钮.clicked = [&a] { 清空按钮_clicked(a); };
    w.存到文件按钮.clicked = [&a] { 存到文件按钮_clicked(a); };
    w.从文件读按钮.clicked = [&a] { 从文件读按钮_clicked(a); };
    w.按钮6.clicked = [&a] { 按钮6_clicked(a); };
    w.按钮7.clicked = [&a] { 按钮7_clicked(a); };
    w.按钮8.clicked = [&a] { 按钮8_clicked(a); };
    w.按钮3.clicked = [&a] { 按钮3_clicked(a); };
    w.按钮4.clicked = [&a] { 按钮4_clicked(a); };
    w.按钮5.clicked = [&a] { 按钮5_clicked(a); };
    w.按钮发送.clicked = [&a] { 按钮发送_clicked(a); };
    w.按钮1.clicked = [&a] { 按钮1_clicked(a); };
    w.按钮2.clicked = [&a] { 按钮2_clicked(a); };
    w.按钮清空.clicked = [&a] { 按钮清空_clicked(a); };
}

}  // namespace keldrin
