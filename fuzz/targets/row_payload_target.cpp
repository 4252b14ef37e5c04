// What keldrin-collect takes from keldrin/+/rows, where anyone may publish: the row
// reader on arbitrary bytes never fails, and a row it accepts, published again, reads
// back the same.
#include <cstdlib>
#include <string_view>

#include "publish/messages.h"
#include "targets/targets.h"

namespace keldrin::fuzz {

void rowPayloadOne(const std::uint8_t* data, std::size_t size) {
    const std::string_view json(reinterpret_cast<const char*>(data), size);
    const std::optional<publish::ReceivedRow> r = publish::parseRowPayload(json);
    if (!r) return;
    PublishedRow again;
    again.run = r->run;
    again.row = r->row;
    again.time = r->time;
    for (const auto& [heading, value] : r->values) again.values.emplace_back(heading, value);
    const std::optional<publish::ReceivedRow> back = publish::parseRowPayload(publish::rowPayload(r->rig, again, r->iso));
    if (!back || back->rig != r->rig || back->run != r->run || back->row != r->row || back->time != r->time ||
        back->iso != r->iso || back->values.size() != r->values.size()) {
        std::abort();
    }
    for (std::size_t i = 0; i < r->values.size(); ++i) {
        if (back->values[i].first != r->values[i].first) std::abort();
        // A number the table would not hold (an exponent, say) goes as null, never as another number.
        if (back->values[i].second && back->values[i].second != r->values[i].second) std::abort();
    }
}

}  // namespace keldrin::fuzz
