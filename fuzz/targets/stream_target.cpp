#include <cstdlib>
#include <string>

#include "support/harness.h"
#include "targets/targets.h"

namespace keldrin::fuzz {

namespace {
// A broken invariant must crash the fuzzer, also in builds without assertions.
void require(bool ok) {
    if (!ok) std::abort();
}
}  // namespace

void streamOne(const std::uint8_t* data, std::size_t size) {
    test::Harness h;
    h.startConnected();
    h.choose(h.w.组合框3, 0);  // record at 0.1 s while acquiring
    MainWin& w = h.w;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        std::uint8_t op = data[i];
        std::uint8_t arg = data[i + 1];
        switch (op % 10) {
            case 0: case 1: case 2: case 3:
                h.port.receive({arg});
                break;
            case 4:
                h.advance(arg);
                break;
            case 5:
                h.click(w.启动);
                break;
            case 6: {
                Button* buttons[] = {&w.按钮3, &w.按钮4, &w.按钮5, &w.按钮发送};
                h.click(*buttons[arg % 4]);
                break;
            }
            case 7: {
                int row = arg % 8 + 1;
                std::string text = std::to_string(arg * 37 % 300);
                h.type((arg & 8) ? w.信道(row) : w.地址(row), text);
                break;
            }
            case 8:
                h.port.receive({0xC1, 0x00, 0x06, arg, 0x01, static_cast<std::uint8_t>(arg ^ 0x65), 0, 23, 0});
                break;
            case 9:
                w.选择框(arg % 8 + 1).setChecked(arg & 0x80);
                break;
        }
        require(h.g.receiveBuffer.size() < 12);
        require(h.g.awaitingParameterReply == 0 || h.g.awaitingParameterReply == 1);
        require(w.编辑框接收.text().size() <= w.编辑框接收.textLimit());
        require(h.g.nextPollChannel >= 0 && h.g.nextPollChannel <= 8);
    }
    h.advance(2000);
    require(h.g.receiveBuffer.size() < 12);
}

}  // namespace keldrin::fuzz
