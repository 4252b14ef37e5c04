#include "publish/messages.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "common/texts.h"

namespace keldrin::publish {

namespace {

constexpr std::string_view kRoot = "keldrin/";

// A cell as a JSON number: the table's own text when it is a plain finite decimal,
// which every reading's text is; anything else is no number.
std::optional<std::string_view> jsonNumber(std::string_view cell) {
    std::size_t i = 0;
    if (i < cell.size() && cell[i] == '-') ++i;
    const std::size_t digits = i;
    while (i < cell.size() && cell[i] >= '0' && cell[i] <= '9') ++i;
    if (i == digits || (cell[digits] == '0' && i - digits > 1)) return std::nullopt;
    if (i < cell.size() && cell[i] == '.') {
        const std::size_t fraction = ++i;
        while (i < cell.size() && cell[i] >= '0' && cell[i] <= '9') ++i;
        if (i == fraction) return std::nullopt;
    }
    if (i != cell.size()) return std::nullopt;
    return cell;
}

std::string numberText(double v) {
    if (!std::isfinite(v)) return "null";
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

// A strict reader of the row payload: objects, strings, numbers and null, nothing
// nested deeper than the values.
class Reader {
public:
    explicit Reader(std::string_view s) : s_(s) {}
    bool eat(char c) {
        space();
        if (i_ < s_.size() && s_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }
    bool atEnd() {
        space();
        return i_ == s_.size();
    }
    bool null() {
        space();
        if (s_.substr(i_, 4) != "null") return false;
        i_ += 4;
        return true;
    }
    std::optional<std::string> string() {
        space();
        if (i_ >= s_.size() || s_[i_] != '"') return std::nullopt;
        ++i_;
        std::string out;
        while (i_ < s_.size()) {
            const char c = s_[i_++];
            if (c == '"') return out;
            if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i_ >= s_.size()) return std::nullopt;
            const char e = s_[i_++];
            switch (e) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    unsigned code = 0;
                    if (s_.size() - i_ < 4) return std::nullopt;
                    const auto r = std::from_chars(s_.data() + i_, s_.data() + i_ + 4, code, 16);
                    if (r.ptr != s_.data() + i_ + 4) return std::nullopt;
                    i_ += 4;
                    // Only what jsonString writes: a control character. Others are kept out.
                    if (code >= 0x20) return std::nullopt;
                    out += static_cast<char>(code);
                    break;
                }
                default: return std::nullopt;
            }
        }
        return std::nullopt;
    }
    std::optional<std::string> number() {
        space();
        const std::size_t from = i_;
        while (i_ < s_.size() && (std::string_view("-+.eE0123456789").find(s_[i_]) != std::string_view::npos)) ++i_;
        const std::string_view text = s_.substr(from, i_ - from);
        double v = 0;
        const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
        if (text.empty() || r.ptr != text.data() + text.size() || r.ec != std::errc() || !std::isfinite(v)) {
            return std::nullopt;
        }
        return std::string(text);
    }

private:
    void space() {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r')) ++i_;
    }
    std::string_view s_;
    std::size_t i_ = 0;
};

}  // namespace

std::string rowsTopic(std::string_view rig) { return std::string(kRoot) + std::string(rig) + "/rows"; }
std::string channelTopic(std::string_view rig, int channel) {
    return std::string(kRoot) + std::string(rig) + "/ch/" + std::to_string(channel);
}
std::string statusTopic(std::string_view rig) { return std::string(kRoot) + std::string(rig) + "/status"; }

std::optional<std::string> rigOfRowsTopic(std::string_view topic) {
    constexpr std::string_view kRows = "/rows";
    if (topic.size() <= kRoot.size() + kRows.size() || topic.substr(0, kRoot.size()) != kRoot ||
        topic.substr(topic.size() - kRows.size()) != kRows) {
        return std::nullopt;
    }
    std::string rig(topic.substr(kRoot.size(), topic.size() - kRoot.size() - kRows.size()));
    if (rig.find('/') != std::string::npos) return std::nullopt;
    return rig;
}

std::optional<std::string> isoTime(std::string_view localTime, int utcOffsetSeconds) {
    if (!dateTimeMs(localTime) || localTime.size() < 19) return std::nullopt;
    std::string iso(localTime);
    iso[10] = 'T';
    const int minutes = std::abs(utcOffsetSeconds) / 60;
    char zone[8];
    std::snprintf(zone, sizeof zone, "%c%02d:%02d", utcOffsetSeconds < 0 ? '-' : '+', minutes / 60 % 100, minutes % 60);
    return iso + zone;
}

std::optional<std::int64_t> isoToEpochMs(std::string_view iso) {
    // The local part, then the offset: "+hh:mm", "-hh:mm" or "Z".
    std::size_t zoneAt = iso.find_last_of("+-Z");
    if (zoneAt == std::string_view::npos || zoneAt < 19) return std::nullopt;
    std::string local(iso.substr(0, zoneAt));
    if (local.size() < 19 || local[10] != 'T') return std::nullopt;
    local[10] = ' ';
    const std::optional<std::int64_t> ms = dateTimeMs(local);
    if (!ms) return std::nullopt;
    const std::string_view zone = iso.substr(zoneAt);
    if (zone == "Z") return *ms;
    if (zone.size() != 6 || zone[3] != ':') return std::nullopt;
    int h = 0, m = 0;
    if (std::from_chars(zone.data() + 1, zone.data() + 3, h).ptr != zone.data() + 3 ||
        std::from_chars(zone.data() + 4, zone.data() + 6, m).ptr != zone.data() + 6 || m > 59) {
        return std::nullopt;
    }
    const std::int64_t offset = (h * 60 + m) * 60000LL;
    return zone[0] == '+' ? *ms - offset : *ms + offset;
}

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char u[8];
                    std::snprintf(u, sizeof u, "\\u%04x", static_cast<unsigned>(c));
                    out += u;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

std::string rowPayload(std::string_view rig, const PublishedRow& row, std::string_view iso) {
    std::string out = "{\"rig\":" + jsonString(rig) + ",\"run\":" + jsonString(row.run) +
                      ",\"row\":" + std::to_string(row.row) + ",\"time\":" + jsonString(row.time) +
                      ",\"iso\":" + jsonString(iso) + ",\"values\":{";
    bool first = true;
    for (const auto& [heading, cell] : row.values) {
        if (!first) out += ',';
        first = false;
        out += jsonString(heading);
        out += ':';
        const std::optional<std::string_view> n = cell ? jsonNumber(*cell) : std::nullopt;
        out += n ? std::string(*n) : std::string("null");
    }
    return out + "}}";
}

std::string readingPayload(double value, std::string_view iso) {
    return "{\"value\":" + numberText(value) + ",\"iso\":" + jsonString(iso) + "}";
}

std::string statusPayload(bool online, std::string_view portName, std::string_view portState) {
    return std::string("{\"state\":\"") + (online ? "online" : "offline") + "\",\"port\":{\"name\":" +
           jsonString(portName) + ",\"state\":" + jsonString(portState) + "}}";
}

std::optional<ReceivedRow> parseRowPayload(std::string_view json) {
    constexpr std::size_t kLongest = 64 * 1024;
    constexpr std::size_t kMostValues = 64;
    if (json.size() > kLongest) return std::nullopt;
    Reader in(json);
    if (!in.eat('{')) return std::nullopt;
    ReceivedRow r;
    bool rig = false, run = false, row = false, time = false, iso = false, values = false;
    do {
        const std::optional<std::string> key = in.string();
        if (!key || !in.eat(':')) return std::nullopt;
        auto text = [&](std::string& into, bool& seen) {
            std::optional<std::string> v = in.string();
            if (!v || seen) return false;
            into = std::move(*v);
            return seen = true;
        };
        if (*key == "rig") {
            if (!text(r.rig, rig)) return std::nullopt;
        } else if (*key == "run") {
            if (!text(r.run, run)) return std::nullopt;
        } else if (*key == "time") {
            if (!text(r.time, time)) return std::nullopt;
        } else if (*key == "iso") {
            if (!text(r.iso, iso)) return std::nullopt;
        } else if (*key == "row") {
            const std::optional<std::string> n = in.number();
            if (!n || row) return std::nullopt;
            const auto res = std::from_chars(n->data(), n->data() + n->size(), r.row);
            if (res.ec != std::errc() || res.ptr != n->data() + n->size() || r.row < 1) return std::nullopt;
            row = true;
        } else if (*key == "values") {
            if (values || !in.eat('{')) return std::nullopt;
            values = true;
            if (!in.eat('}')) {
                do {
                    std::optional<std::string> heading = in.string();
                    if (!heading || !in.eat(':') || r.values.size() >= kMostValues) return std::nullopt;
                    if (in.null()) {
                        r.values.emplace_back(std::move(*heading), std::nullopt);
                    } else {
                        std::optional<std::string> n = in.number();
                        if (!n) return std::nullopt;
                        r.values.emplace_back(std::move(*heading), std::move(n));
                    }
                } while (in.eat(','));
                if (!in.eat('}')) return std::nullopt;
            }
        } else {
            return std::nullopt;
        }
    } while (in.eat(','));
    if (!in.eat('}') || !in.atEnd()) return std::nullopt;
    if (!(rig && run && row && time && iso && values)) return std::nullopt;
    return r;
}

}  // namespace keldrin::publish
