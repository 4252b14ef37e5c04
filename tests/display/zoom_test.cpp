#include <gtest/gtest.h>

#include <string>

#include "support/harness.h"

namespace keldrin::test {
namespace {

TEST(Zoom, EveryClickReplacesTheFileAndTheNextStartRestoresIt) {
    Harness first;
    first.start();
    EXPECT_EQ(first.w.数据表格.zoom(), 0);  // no file at the first start
    EXPECT_FALSE(first.readFile("缩放.txt").has_value());
    first.click(first.w.按钮7);
    EXPECT_EQ(first.readFile("缩放.txt"), "1");
    first.writeFile("缩放.txt", "junk that is longer than a number");
    first.click(first.w.按钮7);
    first.click(first.w.按钮7);
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
    for (const int limit : {Grid::kMaxZoom, Grid::kMinZoom}) {
        Harness h;
        h.writeFile("缩放.txt", limit > 0 ? "1000000" : "-1000000");
        h.start();
        EXPECT_EQ(h.w.数据表格.zoom(), limit);
        h.click(limit > 0 ? h.w.按钮7 : h.w.按钮8);
        EXPECT_EQ(h.readFile("缩放.txt"), std::to_string(limit));
    }
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
