#include <gtest/gtest.h>

#include "support/harness.h"

namespace keldrin::test {
namespace {

TEST(StartUp, WithoutSettingsFilesReportsFailureAndStillBuildsTheTable) {
    Harness h;
    h.start();
    ASSERT_EQ(h.boxes.shown.size(), 1u);
    EXPECT_EQ(h.boxes.shown[0].text, "连接失败");
    EXPECT_EQ(h.boxes.shown[0].buttons, Buttons::Ok);
    EXPECT_EQ(h.w.title(), "");
    EXPECT_EQ(h.w.通用提供者1.rowCount(), 0);
    EXPECT_EQ(h.w.通用提供者1.columnCount(), 9);
    EXPECT_EQ(h.w.屏幕宽度.text(), "1920");
    EXPECT_EQ(h.w.屏幕高度.text(), "1080");
    EXPECT_EQ(h.w.编辑框3.text(), "");
    EXPECT_EQ(h.port.portNumber(), 0);
    EXPECT_FALSE(h.port.isOpen());
}

}  // namespace
}  // namespace keldrin::test
