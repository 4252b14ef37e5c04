#pragma once
// Sending one command to every ticked probe, as the zero and binding commands do.
#include <cstdint>
#include <span>

#include "shell/app.h"

namespace keldrin {

// For rows 1..8: a ticked row's probe address and radio channel go into the frame's
// head and the frame is sent; every row, ticked or not, then takes 50 ms and re-shows
// the frame as it stands in 编辑框发送.
void sendToTickedProbes(App& a, std::span<std::uint8_t> frame);

}  // namespace keldrin
