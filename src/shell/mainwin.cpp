#include "shell/mainwin.h"

#include "protocol/rates.h"

namespace keldrin {

namespace {
constexpr std::int64_t kGreen = 0x00FF00;
constexpr std::int64_t kBlue = 0x0060C0;  // red 0, green 96, blue 192
constexpr std::int64_t kSilver = 0xC0C0C0;
constexpr std::int64_t kGrey = 0xECECEC;
constexpr std::size_t kEchoLimit = 64 * 1024;

// The serial rates in item order, each valued as its code in place in the rate byte.
std::vector<ComboItem> baudItems() {
    std::vector<ComboItem> items;
    for (const BaudCode& b : kBaudCodes) items.push_back({b.text, b.code << 4});
    return items;
}

// The air rates in item order, each valued as its code.
std::vector<ComboItem> airItems() {
    std::vector<ComboItem> items;
    for (const AirCode& c : kAirCodes) items.push_back({c.text, c.code});
    return items;
}
}  // namespace

MainWin::MainWin()
    :
      图片框1("图片框1", &client, {9, 23, 120, 208}),
      图片框2("图片框2", &client, {142, 23, 120, 208}),
      图片框3("图片框3", &client, {275, 23, 120, 208}),
      图片框4("图片框4", &client, {408, 23, 120, 208}),
      图片框5("图片框5", &client, {541, 23, 120, 208}),
      图片框6("图片框6", &client, {674, 23, 120, 208}),
      图片框7("图片框7", &client, {809, 28, 120, 195}),
      图片框8("图片框8", &client, {943, 28, 120, 195}),
      CT1("CT1", &client, {8, 17, 120, 32}, "1.000"),
      CT2("CT2", &client, {141, 17, 120, 32}, "2.000"),
      CT3("CT3", &client, {274, 17, 120, 32}, "3.000"),
      CT4("CT4", &client, {407, 17, 120, 32}, "0"),
      CT5("CT5", &client, {540, 17, 120, 32}, "0"),
      CT6("CT6", &client, {673, 17, 120, 32}, "-1.000"),
      CT7("CT7", &client, {806, 17, 120, 32}, "-2.000"),
      CT8("CT8", &client, {945, 17, 120, 32}, "-3.000"),
      选择框1("选择框1", &client, {19, 220, 32, 26}, "地址", true),
      选择框2("选择框2", &client, {152, 220, 32, 26}, "地址", true),
      选择框3("选择框3", &client, {285, 220, 32, 26}, "地址", true),
      选择框4("选择框4", &client, {418, 220, 32, 26}, "地址", true),
      选择框5("选择框5", &client, {551, 220, 32, 26}, "地址", false),
      选择框6("选择框6", &client, {684, 220, 32, 26}, "地址", false),
      选择框7("选择框7", &client, {817, 220, 32, 26}, "地址", false),
      选择框8("选择框8", &client, {955, 220, 32, 26}, "地址", false),
      地址1("地址1", &client, {51, 220, 36, 26}, "1"),
      地址2("地址2", &client, {184, 220, 36, 26}, "2"),
      地址3("地址3", &client, {317, 220, 36, 26}, "3"),
      地址4("地址4", &client, {450, 220, 36, 26}, "4"),
      地址5("地址5", &client, {583, 220, 36, 26}, "5"),
      地址6("地址6", &client, {716, 220, 36, 26}, "6"),
      地址7("地址7", &client, {849, 220, 36, 26}, "7"),
      地址8("地址8", &client, {987, 220, 36, 26}, "8"),
      信道1("信道1", &client, {87, 220, 32, 26}, "28"),
      信道2("信道2", &client, {220, 220, 32, 26}, "28"),
      信道3("信道3", &client, {353, 220, 32, 26}, "28"),
      信道4("信道4", &client, {486, 220, 32, 26}, "28"),
      信道5("信道5", &client, {619, 220, 32, 26}, "28"),
      信道6("信道6", &client, {752, 220, 32, 26}, "28"),
      信道7("信道7", &client, {885, 220, 32, 26}, "28"),
      信道8("信道8", &client, {1023, 220, 32, 26}, "28"),
      分组框2("分组框2", &client, {8, 440, 1056, 137}),
      数据表格("数据表格", &分组框2, {8, 11, 856, 120}),
      表0("表0", &分组框2, {52, 11, 88, 18}, "时间"),
      表1("表1", &分组框2, {140, 11, 87, 18}, "1"),
      表2("表2", &分组框2, {227, 11, 87, 18}, "2"),
      表3("表3", &分组框2, {314, 11, 87, 18}, "3"),
      表4("表4", &分组框2, {401, 11, 87, 18}, "4"),
      表5("表5", &分组框2, {488, 11, 87, 18}, "5"),
      表6("表6", &分组框2, {575, 11, 87, 18}, "6"),
      表7("表7", &分组框2, {662, 11, 87, 18}, "7"),
      表8("表8", &分组框2, {749, 11, 87, 18}, "8"),
      清空按钮("清空按钮", &分组框2, {872, 40, 56, 24}, "清空"),
      按钮7("按钮7", &分组框2, {872, 80, 24, 24}, "放"),
      按钮8("按钮8", &分组框2, {872, 112, 24, 24}, "缩"),
      组合框3("组合框3", &分组框2, {888, 8, 68, 20},
              {{"0.1秒", 100}, {"0.5秒", 500}, {"1秒", 1000}, {"5秒", 5000}, {"10秒", 10000},
               {"30秒", 30000}, {"一分钟", 60000}, {"5分钟", 300000}, {"10分钟", 600000}, {"从不", 0}}),
      标签7("标签7", &分组框2, {960, 9, 64, 16}, "记录一次"),
      存到文件按钮("存到文件按钮", &分组框2, {992, 40, 62, 24}, "存到文件"),
      从文件读按钮("从文件读按钮", &分组框2, {992, 72, 62, 24}, "从文件读"),
      按钮6("按钮6", &分组框2, {992, 104, 62, 24}, "数据导出"),
      分组框1("分组框1", &client, {8, 572, 352, 105}, "主机参数"),
      标签6("标签6", &分组框1, {73, 12, 256, 16}, "读参数/修改参数请按住接收盒上的按键"),
      标签2("标签2", &分组框1, {24, 33, 32, 16}, "地址"),
      标签3("标签3", &分组框1, {88, 33, 32, 16}, "通道"),
      标签4("标签4", &分组框1, {151, 33, 41, 16}, "波特率"),
      标签5("标签5", &分组框1, {208, 33, 48, 16}, "空中速率"),
      编辑框1("编辑框1", &分组框1, {8, 55, 60, 20}),
      编辑框2("编辑框2", &分组框1, {72, 55, 60, 20}),
      编辑框3("编辑框3", &分组框1, {136, 55, 60, 20}),
      编辑框4("编辑框4", &分组框1, {200, 55, 60, 20}),
      编辑框5("编辑框5", &分组框1, {8, 79, 60, 20}),
      编辑框6("编辑框6", &分组框1, {72, 79, 60, 20}),
      组合框1("组合框1", &分组框1, {137, 80, 60, 20}, baudItems()),
      组合框2("组合框2", &分组框1, {201, 80, 60, 20}, airItems()),
      按钮5("按钮5", &分组框1, {272, 32, 72, 20}, "建立连接"),
      按钮3("按钮3", &分组框1, {272, 58, 72, 20}, "读取参数"),
      按钮4("按钮4", &分组框1, {272, 82, 72, 20}, "修改"),
      按钮1("按钮1", &client, {376, 601, 64, 24}, "全选"),
      按钮2("按钮2", &client, {376, 633, 64, 24}, "取消"),
      屏幕宽度("屏幕宽度", &client, {441, 576, 72, 16}),
      屏幕高度("屏幕高度", &client, {518, 576, 75, 16}),
      标签1("标签1", &client, {448, 601, 80, 24}, "时间间隔（mS）"),
      间隔时间("间隔时间", &client, {448, 625, 80, 24}, "200"),
      启动("启动", &client, {537, 601, 80, 49}, "启动"),
      标签发送("标签发送", &client, {624, 587, 97, 32}, "发送："),
      编辑框发送("编辑框发送", &client, {721, 587, 272, 32}),
      标签接收("标签接收", &client, {616, 635, 105, 24}, "接收："),
      编辑框接收("编辑框接收", &client, {721, 627, 272, 32}, "", true),
      编辑框7("编辑框7", &client, {645, 615, 40, 20}),
      报警("报警", &client, {656, 662, 56, 16}, "报警", true),
      按钮发送("按钮发送", &client, {1001, 587, 72, 32}, "测头清零"),
      按钮清空("按钮清空", &client, {1001, 627, 72, 32}, "清空"),
      系统时间("系统时间", &client, {914, 8, 160, 16}),
      发布状态("发布状态", &client, {700, 8, 208, 16}) {
    bars_ = {nullptr, &图片框1, &图片框2, &图片框3, &图片框4, &图片框5, &图片框6, &图片框7, &图片框8};
    values_ = {nullptr, &CT1, &CT2, &CT3, &CT4, &CT5, &CT6, &CT7, &CT8};
    selects_ = {nullptr, &选择框1, &选择框2, &选择框3, &选择框4, &选择框5, &选择框6, &选择框7, &选择框8};
    addresses_ = {nullptr, &地址1, &地址2, &地址3, &地址4, &地址5, &地址6, &地址7, &地址8};
    channels_ = {nullptr, &信道1, &信道2, &信道3, &信道4, &信道5, &信道6, &信道7, &信道8};
    headings_ = {&表0, &表1, &表2, &表3, &表4, &表5, &表6, &表7, &表8};

    for (int i = 1; i <= kChannels; ++i) {
        图片框(i).background = kGreen;
        CT(i).fontPixels = 19;
        选择框(i).background = kBlue;
    }
    for (int i = 0; i <= kChannels; ++i) 表(i).background = kSilver;
    编辑框7.background = kGrey;
    for (EditBox* e : {&编辑框1, &编辑框2, &编辑框3, &编辑框4}) e->setEnabled(false);
    按钮5.setEnabled(false);
    按钮4.setEnabled(false);
    屏幕高度.setVisible(false);
    发布状态.setVisible(false);
    编辑框接收.setTextLimit(kEchoLimit);

    // Group boxes before their children, so an adapter can create parents first.
    controls_ = {&分组框2, &分组框1};
    for (int i = 1; i <= kChannels; ++i) controls_.push_back(&图片框(i));
    for (int i = 1; i <= kChannels; ++i) controls_.push_back(&CT(i));
    for (int i = 1; i <= kChannels; ++i) controls_.push_back(&选择框(i));
    for (int i = 1; i <= kChannels; ++i) controls_.push_back(&地址(i));
    for (int i = 1; i <= kChannels; ++i) controls_.push_back(&信道(i));
    controls_.push_back(&数据表格);
    for (int i = 0; i <= kChannels; ++i) controls_.push_back(&表(i));
    for (Control* c : std::initializer_list<Control*>{
             &清空按钮, &按钮7, &按钮8, &组合框3, &标签7, &存到文件按钮, &从文件读按钮, &按钮6,
             &标签6, &标签2, &标签3, &标签4, &标签5, &编辑框1, &编辑框2, &编辑框3, &编辑框4,
             &编辑框5, &编辑框6, &组合框1, &组合框2, &按钮5, &按钮3, &按钮4, &按钮1, &按钮2,
             &屏幕宽度, &屏幕高度, &标签1, &间隔时间, &启动, &标签发送, &编辑框发送, &标签接收,
             &编辑框接收, &编辑框7, &报警, &按钮发送, &按钮清空, &系统时间, &发布状态}) {
        controls_.push_back(c);
    }
    timers_ = {&时钟1, &时钟2, &时钟3, &时钟4, &时钟5, &时钟4清屏, &时钟5报警, &linkTimer};

    menus = {
        {"管理", {{"密码管理", {}}, {"数据备份", {}}}},
        {"联机", {{"连接", {}}, {"端口设置", {}}, {"发布设置", {}}}},
        {"系统", {{"关机", {}}, {"重启", {}}, {"休眠", {}}}},
        {"查看", {{"趋势图", {}}}},
    };
}

void MainWin::setTitle(std::string t) {
    if (title_ == t) return;
    title_ = std::move(t);
    if (observer_) observer_->titleChanged();
}

MenuItem* MainWin::menuItem(const std::string& name) {
    for (Menu& m : menus) {
        for (MenuItem& item : m.items) {
            if (item.name == name) return &item;
        }
    }
    return nullptr;
}

Control* MainWin::find(const std::string& name) const {
    for (Control* c : controls_) {
        if (c->name() == name) return c;
    }
    return nullptr;
}

PortWin::PortWin()
    : 组合框1("组合框1", &client, {88, 56, 264, 20}),
      编辑框1("编辑框1", &client, {325, 109, 64, 24}),
      按钮1("按钮1", &client, {173, 101, 72, 32}, "确认") {
    编辑框1.setVisible(false);
    controls_ = {&组合框1, &编辑框1, &按钮1};
}

void PortWin::close() {
    closeRequested_ = true;
    if (onClose) onClose();
}

}  // namespace keldrin
