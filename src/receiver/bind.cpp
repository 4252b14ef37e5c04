// Binding the ticked probes to the receiver box: each probe is told the receiver's
// address and radio channel with a Modbus write of registers 0x3039..0x303A, routed
// by the receiver box to the probe's own address and channel.
#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

#include "common/textnum.h"
#include "protocol/crc.h"
#include "protocol/frames.h"
#include "receiver/receiver.h"
#include "shell/probe_rows.h"
#include "shell/shell.h"

namespace keldrin {

void modbusCrc16(Globals& g) {
    // Never read past the list, whatever crcLength holds.
    const std::size_t n =
        std::min(g.bindPayload.size(), static_cast<std::size_t>(std::max<std::int32_t>(g.crcLength, 0)));
    g.crcValue = modbusCrc16(std::span<const std::uint8_t>(g.bindPayload.data(), n));
}

void 按钮5_clicked(App& a) {
    MainWin& w = a.w;
    Globals& g = a.g;

    // The receiver's values come from a fresh read; its reply is decoded only after
    // this handler returns.
    sendParameterRead(a);

    // The probes are reached at the receiver's own serial rate; the extra pause lets
    // the box settle after the switch.
    reopenPort(a, textToInt(w.编辑框3.text()));
    a.pause(100);

    const BindPayload payload = bindPayload(textToInt(w.编辑框1.text()), textToInt(w.编辑框2.text()));
    g.bindPayload.assign(payload.begin(), payload.end());
    g.crcLength = static_cast<std::int32_t>(kBindCrcCovered);
    modbusCrc16(g);
    sealBindPayload(g.bindPayload, static_cast<std::uint16_t>(g.crcValue));

    // Unticked channels still take their 50 ms and re-show the frame as it stands.
    std::array<std::uint8_t, kBindLength> frame = kBindTemplate;
    std::copy(g.bindPayload.begin(), g.bindPayload.end(), frame.begin() + kProbeHeadLength);
    sendToTickedProbes(a, frame);
}

}  // namespace keldrin
