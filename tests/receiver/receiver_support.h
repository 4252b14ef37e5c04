#pragma once
// Shared set-up for the receiver configuration tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/harness.h"

namespace keldrin::test {

using Bytes = std::vector<std::uint8_t>;

// The program connected on COM3 at 9600, with start-up's port traffic forgotten.
struct Connected : ::testing::Test {
    Harness h;
    void SetUp() override {
        h.startConnected();
        h.port.sent.clear();
        h.port.events.clear();
    }
    // Port events since t0 as "ms what".
    std::vector<std::string> eventsSince(std::int64_t t0) const {
        std::vector<std::string> out;
        for (const PortEvent& e : h.port.events) out.push_back(std::to_string(e.time - t0) + " " + e.what);
        return out;
    }
};

// Every text a control was given, in order, including the transient ones.
class TextLog : public ControlObserver {
public:
    explicit TextLog(Control& c) : c_(c) { c.setObserver(this); }
    ~TextLog() override { c_.setObserver(nullptr); }
    void controlChanged(Control& c, Prop p, const std::string&, std::size_t) override {
        if (p == Prop::Text) texts.push_back(c.text());
    }
    std::vector<std::string> texts;

private:
    Control& c_;
};

}  // namespace keldrin::test
