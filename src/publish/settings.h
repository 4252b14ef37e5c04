#pragma once
// Publishing's settings, as the group [mqtt] of 发布.ini holds them. Tools and scripts
// write that file too: the keys stay as they are.
#include <optional>
#include <string>
#include <string_view>

namespace keldrin::publish {

inline constexpr int kDefaultPort = 1883;

struct Settings {
    bool enabled = false;  // absent: off
    std::string host;
    int port = kDefaultPort;
    bool tls = false;
    std::string ca;  // a CA file, for tls
    std::string user;
    std::string password;
    std::string rig;  // the topic prefix; the computer's name when absent
};

// Why settings that turn publishing on cannot be used, in the operator's words;
// nothing when they can (or when publishing is off).
std::optional<std::string> problemWith(const Settings& s);

// A rig's name is one level of a topic: no '/', '+', '#', control characters or
// invalid UTF-8, and not empty.
bool validRig(std::string_view rig);

}  // namespace keldrin::publish
