#include "publish/settings.h"

#include "common/messages.h"

namespace keldrin::publish {

namespace {

constexpr std::size_t kLongestRig = 128;
constexpr std::size_t kLongestHost = 253;  // a DNS name

// Well-formed UTF-8 without control characters.
bool plainUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c == 0x7f) return false;
        int more = c < 0x80 ? 0 : (c & 0xe0) == 0xc0 ? 1 : (c & 0xf0) == 0xe0 ? 2 : (c & 0xf8) == 0xf0 ? 3 : -1;
        if (more < 0 || (more == 1 && c < 0xc2) || s.size() - i <= static_cast<std::size_t>(more)) return false;
        for (int k = 1; k <= more; ++k) {
            if ((static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]) & 0xc0) != 0x80) return false;
        }
        i += static_cast<std::size_t>(more) + 1;
    }
    return true;
}

}  // namespace

bool validRig(std::string_view rig) {
    if (rig.empty() || rig.size() > kLongestRig || !plainUtf8(rig)) return false;
    return rig.find_first_of("/+#") == std::string_view::npos;
}

std::optional<std::string> problemWith(const Settings& s) {
    if (!s.enabled) return std::nullopt;
    if (s.host.empty()) return std::string(msg::kPublishNoHost);
    if (s.host.size() > kLongestHost || !plainUtf8(s.host) || s.host.find_first_of(" /") != std::string::npos) {
        return std::string(msg::kPublishBadHost);
    }
    if (s.port < 1 || s.port > 65535) return std::string(msg::kPublishBadPort);
    if (!validRig(s.rig)) return std::string(msg::kPublishBadRig);
    if (s.tls && s.ca.empty()) return std::string(msg::kPublishNoCa);
    if (!plainUtf8(s.user) || !plainUtf8(s.password)) return std::string(msg::kPublishBadCredentials);
    return std::nullopt;
}

}  // namespace keldrin::publish
