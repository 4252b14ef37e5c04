#include <gtest/gtest.h>

#include <string>

#include "support/harness.h"

namespace keldrin::test {
namespace {

TEST(Zoom, FirstStartWithoutFileIsZeroAndAClickCreatesOne) {
    Harness h;
    h.start();
    EXPECT_EQ(h.w.数据表格.zoom(), 0);
    EXPECT_FALSE(h.readFile("缩放.txt").has_value());
    h.click(h.w.按钮7);
    EXPECT_EQ(h.readFile("缩放.txt"), "1");
}

TEST(Zoom, EveryClickReplacesTheFileAndTheNextStartRestoresIt) {
    Harness first;
    first.start();
    first.writeFile("缩放.txt", "junk that is longer than a number");
    for (int k = 0; k < 3; ++k) first.click(first.w.按钮7);
    EXPECT_EQ(first.readFile("缩放.txt"), "3");

    Harness next;
    next.writeFile("缩放.txt", *first.readFile("缩放.txt"));
    next.start();
    EXPECT_EQ(next.w.数据表格.zoom(), 3);
}

TEST(Zoom, NegativeLevelsRoundTrip) {
    Harness h;
    h.writeFile("缩放.txt", "-2");
    h.start();
    EXPECT_EQ(h.w.数据表格.zoom(), -2);
    h.click(h.w.按钮8);
    EXPECT_EQ(h.readFile("缩放.txt"), "-3");
    h.click(h.w.按钮7);
    h.click(h.w.按钮7);
    EXPECT_EQ(h.readFile("缩放.txt"), std::string("\x2D\x31", 2));  // "-1": no line end
}

TEST(Zoom, TheFileHoldsWhatTheGridAccepted) {
    Harness h;
    h.writeFile("缩放.txt", std::to_string(Grid::kMaxZoom));
    h.start();
    h.click(h.w.按钮7);
    EXPECT_EQ(h.w.数据表格.zoom(), Grid::kMaxZoom);
    EXPECT_EQ(h.readFile("缩放.txt"), std::to_string(Grid::kMaxZoom));

    Harness low;
    low.writeFile("缩放.txt", "-1000000");
    low.start();
    EXPECT_EQ(low.w.数据表格.zoom(), Grid::kMinZoom);
    low.click(low.w.按钮8);
    EXPECT_EQ(low.readFile("缩放.txt"), std::to_string(Grid::kMinZoom));
}

TEST(Zoom, UnreadableContentLoadsAsZero) {
    for (const char* content : {"", "abc", " ", "\xEF\xBB\xBF" "5"}) {
        Harness h;
        h.writeFile("缩放.txt", content);
        h.start();
        EXPECT_EQ(h.w.数据表格.zoom(), 0) << content;
    }
}

}  // namespace
}  // namespace keldrin::test
