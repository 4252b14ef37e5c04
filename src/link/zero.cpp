// The zero command: a write of 0 to register 0 of every ticked probe, row by row.
#include <array>
#include <cstdint>

#include "link/link.h"
#include "protocol/frames.h"
#include "shell/probe_rows.h"

namespace keldrin {

void 按钮发送_clicked(App& a) {
    a.pause(100);
    std::array<std::uint8_t, kZeroLength> command = kZeroTemplate;
    sendToTickedProbes(a, command);
    a.pause(100);
}

}  // namespace keldrin
