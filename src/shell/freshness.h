#pragma once
// Whether a channel's reading is current: what the display greys and the recorder
// leaves out. A probe that stopped answering keeps its last value in channelValues; a
// row must not present that value as measured.
#include <cstdint>

#include "shell/app.h"

namespace keldrin {

// A reading older than three polling rounds, never less than this, is stale.
inline constexpr std::int64_t kStaleAfterAtLeastMs = 2000;

// How long a ticked channel's reading stays current: three rounds of polling, a round
// being one poll of every ticked channel at the poll timer's interval.
std::int64_t staleAfterMs(const App& a);

// For each channel: ticked, and its probe gave no reading since acquisition last
// started, or none for longer than staleAfterMs. Meaningful while acquisition runs.
PerChannel<bool> staleChannels(App& a);

}  // namespace keldrin
