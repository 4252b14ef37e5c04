#pragma once
// What Keldrin publishes to an MQTT broker, and what keldrin-collect takes from it: the
// topics under keldrin/<rig>/ and their JSON payloads. Consumers' configurations name
// these keys, so they stay as they are.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/services.h"

namespace keldrin::publish {

std::string rowsTopic(std::string_view rig);
std::string channelTopic(std::string_view rig, int channel);
std::string statusTopic(std::string_view rig);
// The rig of a topic keldrin/<rig>/rows; nothing for any other topic.
std::optional<std::string> rigOfRowsTopic(std::string_view topic);

// "yyyy-MM-dd HH:mm:ss.zzz" (local) and the zone's offset from UTC then, as ISO 8601:
// "yyyy-MM-ddTHH:mm:ss.zzz+hh:mm". Nothing for a text of another form.
std::optional<std::string> isoTime(std::string_view localTime, int utcOffsetSeconds);
// The instant an ISO 8601 time of that form names, in milliseconds since 1970 UTC.
std::optional<std::int64_t> isoToEpochMs(std::string_view iso);

// {"rig","run","row","time","iso","values":{heading: number|null}}: a cell that is not
// a finite number is null.
std::string rowPayload(std::string_view rig, const PublishedRow& row, std::string_view iso);
// {"value": number, "iso": time}
std::string readingPayload(double value, std::string_view iso);
// {"state": "online"|"offline", "port": {"name", "state"}}
std::string statusPayload(bool online, std::string_view portName, std::string_view portState);

// A row payload as a consumer reads it. Strict: anything else is refused.
struct ReceivedRow {
    std::string rig, run;
    std::int64_t row = 0;
    std::string time, iso;
    // Each heading with its number as written, or nothing for null.
    std::vector<std::pair<std::string, std::optional<std::string>>> values;
};
std::optional<ReceivedRow> parseRowPayload(std::string_view json);

// A JSON string literal of text (UTF-8 passed through, controls escaped).
std::string jsonString(std::string_view text);

}  // namespace keldrin::publish
