#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/harness.h"

namespace keldrin::test {
namespace {

// Every text 编辑框发送 is given, with its virtual time.
struct EchoLog : ControlObserver {
    Harness& h;
    std::vector<std::pair<std::int64_t, std::string>> texts;
    explicit EchoLog(Harness& harness) : h(harness) { h.w.编辑框发送.setObserver(this); }
    ~EchoLog() override { h.w.编辑框发送.setObserver(nullptr); }
    void controlChanged(Control& c, Prop p, const std::string&, std::size_t) override {
        if (p == Prop::Text) texts.emplace_back(h.time.now(), c.text());
    }
};

struct ZeroCommand : ::testing::Test {
    Harness h;
    std::int64_t t0 = 0;
    void SetUp() override {
        h.writeFile("端口号.txt", "3");
        h.writeFile("波特率.txt", "9600");
        h.start();
        ASSERT_TRUE(h.port.isOpen());
        for (int i = 1; i <= 8; ++i) h.w.选择框(i).setChecked(false);
        h.port.sent.clear();
        t0 = h.time.now();
    }
    void clickAndWait() {
        h.click(h.w.按钮发送);  // runs to its end, pauses included
    }
};

TEST_F(ZeroCommand, NoRowTickedSendsNothingAndEchoesTheTemplate) {
    clickAndWait();
    EXPECT_TRUE(h.port.sent.empty());
    EXPECT_EQ(h.time.now(), t0 + 600);
    EXPECT_EQ(h.w.编辑框发送.text(), "0 6 1C 6 0 0 0 0 AC 0 ");
}

TEST_F(ZeroCommand, TickedRowsGetTheirCommandsInRowOrderFiftyMillisecondsApart) {
    h.w.选择框(1).setChecked(true);
    h.w.地址(1).setText("1");
    h.w.信道(1).setText("28");
    h.w.选择框(2).setChecked(true);
    h.w.地址(2).setText("300");
    h.w.信道(2).setText("5");
    EchoLog log(h);
    const std::int64_t frames = h.g.sentFrameCount;

    clickAndWait();

    ASSERT_EQ(h.port.sent.size(), 2u);
    EXPECT_EQ(h.port.sent[0].bytes,
              (std::vector<std::uint8_t>{0x00, 0x01, 0x1C, 0x06, 0x00, 0x00, 0x00, 0x00, 0xAC, 0x00}));
    EXPECT_EQ(h.port.sent[0].time, t0 + 100);
    EXPECT_EQ(h.port.sent[1].bytes,
              (std::vector<std::uint8_t>{0x01, 0x2C, 0x05, 0x06, 0x00, 0x00, 0x00, 0x00, 0xAC, 0x00}));
    EXPECT_EQ(h.port.sent[1].time, t0 + 150);
    EXPECT_EQ(h.w.编辑框发送.text(), "1 2C 5 6 0 0 0 0 AC 0 ");
    EXPECT_EQ(h.time.now(), t0 + 600);
    EXPECT_EQ(h.g.sentFrameCount, frames);  // zero commands are not polls

    // The echo is renewed after every row's 50 ms, the last row's bytes kept for
    // the unticked rows after it.
    std::vector<std::pair<std::int64_t, std::string>> shown;
    for (const auto& t : log.texts) {
        if (!t.second.empty()) shown.push_back(t);
    }
    ASSERT_EQ(shown.size(), 8u);
    EXPECT_EQ(shown[0], std::make_pair(t0 + 150, std::string("0 1 1C 6 0 0 0 0 AC 0 ")));
    for (int row = 2; row <= 8; ++row) {
        EXPECT_EQ(shown[static_cast<std::size_t>(row - 1)],
                  std::make_pair(t0 + 100 + 50 * row, std::string("1 2C 5 6 0 0 0 0 AC 0 ")))
            << row;
    }
}

TEST_F(ZeroCommand, OnlyTheLowBitsReachTheWire) {
    h.w.选择框(7).setChecked(true);
    h.w.地址(7).setText("70000");
    h.w.信道(7).setText("257");
    clickAndWait();
    ASSERT_EQ(h.port.sent.size(), 1u);
    EXPECT_EQ(h.port.sent[0].bytes[0], 0x11);
    EXPECT_EQ(h.port.sent[0].bytes[1], 0x70);
    EXPECT_EQ(h.port.sent[0].bytes[2], 0x01);
    EXPECT_EQ(h.port.sent[0].time, t0 + 100 + 6 * 50);
}

TEST_F(ZeroCommand, LeavesTheReceiveStateAloneAndBytesMeanwhileAreDecodedAfter) {
    h.w.选择框(1).setChecked(true);
    h.g.awaitingParameterReply = 1;
    h.g.receiveBuffer = {0xC1, 0x00};
    // A reply finishing during the click is taken once the click is over.
    h.port.receiveAt(t0 + 300, {0x06, 0x00, 0x01, 0x65, 0x00, 0x02, 0x00});
    clickAndWait();
    EXPECT_EQ(h.time.now(), t0 + 600 + 300);  // then the reply's port reopening
    EXPECT_EQ(h.g.awaitingParameterReply, 0);
    EXPECT_EQ(h.w.编辑框1.text(), "1");
    EXPECT_EQ(h.w.编辑框2.text(), "2");
}

}  // namespace
}  // namespace keldrin::test
