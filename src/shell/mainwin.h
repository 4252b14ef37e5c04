#pragma once
// The main window MainWin and the port dialog PortWin as a model: every control at its
// place with its caption, colours and state at creation, the menus and the timers.
#include <array>
#include <string>
#include <vector>

#include "common/channels.h"
#include "store/record_store.h"
#include "shell/controls.h"

namespace keldrin {

class WindowObserver {
public:
    virtual ~WindowObserver() = default;
    virtual void titleChanged() = 0;
};

class MainWin {
public:
    MainWin();
    MainWin(const MainWin&) = delete;
    MainWin& operator=(const MainWin&) = delete;

    static constexpr int kLeft = 50, kTop = 50, kWidth = 1080, kHeight = 730;
    static constexpr int kIconSize = 32;

    const std::string& title() const { return title_; }
    void setTitle(std::string t);
    void setObserver(WindowObserver* o) { observer_ = o; }

    // The client area below the menu bar; parent of the directly placed controls.
    GroupBox client{"MainWin", nullptr, {0, 0, kWidth, kHeight}};

    // The channel strip.
    PictureBox 图片框1, 图片框2, 图片框3, 图片框4, 图片框5, 图片框6, 图片框7, 图片框8;
    Label CT1, CT2, CT3, CT4, CT5, CT6, CT7, CT8;
    CheckBox 选择框1, 选择框2, 选择框3, 选择框4, 选择框5, 选择框6, 选择框7, 选择框8;
    EditBox 地址1, 地址2, 地址3, 地址4, 地址5, 地址6, 地址7, 地址8;
    EditBox 信道1, 信道2, 信道3, 信道4, 信道5, 信道6, 信道7, 信道8;

    // The record area.
    GroupBox 分组框2;
    Grid 数据表格;
    EditBox 表0, 表1, 表2, 表3, 表4, 表5, 表6, 表7, 表8;
    Button 清空按钮, 按钮7, 按钮8;
    ComboBox 组合框3;
    Label 标签7;
    Button 存到文件按钮, 从文件读按钮, 按钮6;

    // The host-parameter area.
    GroupBox 分组框1;
    Label 标签6, 标签2, 标签3, 标签4, 标签5;
    EditBox 编辑框1, 编辑框2, 编辑框3, 编辑框4, 编辑框5, 编辑框6;
    ComboBox 组合框1, 组合框2;
    Button 按钮5, 按钮3, 按钮4;

    // The control row and the send/receive area.
    Button 按钮1, 按钮2;
    Label 屏幕宽度, 屏幕高度, 标签1;
    EditBox 间隔时间;
    Button 启动;
    Label 标签发送;
    EditBox 编辑框发送;
    Label 标签接收;
    EditBox 编辑框接收, 编辑框7;
    CheckBox 报警;
    Button 按钮发送, 按钮清空;
    Label 系统时间;
    // Publishing's state beside the clock; shown only while publishing is on.
    Label 发布状态;

    // Non-visual components (the serial port 端口1 and the file dialog 通用对话框1 are services).
    RecordStore 通用提供者1;
    DataSource 数据源1;

    // Timers.
    Timer 时钟1{"时钟1", 50};
    Timer 时钟2{"时钟2", 200};
    Timer 时钟3{"时钟3", 10000};
    Timer 时钟4{"时钟4", 500};
    Timer 时钟5{"时钟5", 0};
    Timer 时钟4清屏{"时钟4清屏", 100};
    Timer 时钟5报警{"时钟5报警", 1000};
    // The link's upkeep: a lost port opened again, a quiet one opened afresh.
    Timer linkTimer{"linkTimer", 1000};

    // Menus 管理, 联机, 系统 and 查看 with their items.
    std::vector<Menu> menus;
    MenuItem* menuItem(const std::string& name);

    // Channel i = 1..8 (表 also takes 0).
    PictureBox& 图片框(int i) { return *bars_.at(i); }
    Label& CT(int i) { return *values_.at(i); }
    CheckBox& 选择框(int i) { return *selects_.at(i); }
    EditBox& 地址(int i) { return *addresses_.at(i); }
    EditBox& 信道(int i) { return *channels_.at(i); }
    EditBox& 表(int i) { return *headings_.at(i); }

    // Every control, parents before children, and every timer.
    const std::vector<Control*>& controls() const { return controls_; }
    const std::vector<Timer*>& timers() const { return timers_; }
    Control* find(const std::string& name) const;

private:
    std::string title_;
    WindowObserver* observer_ = nullptr;
    PerChannel<PictureBox*> bars_{};
    PerChannel<Label*> values_{};
    PerChannel<CheckBox*> selects_{};
    PerChannel<EditBox*> addresses_{};
    PerChannel<EditBox*> channels_{};
    PerChannel<EditBox*> headings_{};
    std::vector<Control*> controls_;
    std::vector<Timer*> timers_;
};

class PortWin {
public:
    PortWin();
    PortWin(const PortWin&) = delete;
    PortWin& operator=(const PortWin&) = delete;

    static constexpr int kLeft = 50, kTop = 50, kWidth = 446, kHeight = 215;

    GroupBox client{"PortWin", nullptr, {0, 0, kWidth, kHeight}};
    ComboBox 组合框1;
    EditBox 编辑框1;
    Button 按钮1;

    const std::string& title() const { return title_; }
    const std::vector<Control*>& controls() const { return controls_; }

    // Asks whoever shows the dialog to close it.
    void close();
    bool closeRequested() const { return closeRequested_; }
    std::function<void()> onClose;

private:
    std::string title_;
    bool closeRequested_ = false;
    std::vector<Control*> controls_;
};

}  // namespace keldrin
