#pragma once
// Shared set-up for the receiver configuration tests.
#include <cstdint>
#include <string>
#include <vector>

#include "support/harness.h"

namespace keldrin::test {

// Starts the program connected on COM3 at the given rate and forgets what start-up sent.
inline void startConnected(Harness& h, const std::string& baud = "9600") {
    h.writeFile("端口号.txt", "3");
    h.writeFile("波特率.txt", baud);
    h.start();
    h.port.sent.clear();
    h.port.events.clear();
}

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

using Bytes = std::vector<std::uint8_t>;

}  // namespace keldrin::test
