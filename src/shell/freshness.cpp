#include "shell/freshness.h"

#include <algorithm>

namespace keldrin {

std::int64_t staleAfterMs(const App& a) {
    std::int64_t ticked = 0;
    for (int i = 1; i <= kChannels; ++i) ticked += a.w.选择框(i).checked() ? 1 : 0;
    const std::int64_t round = ticked * std::max(a.w.时钟2.interval(), 0);
    return std::max(3 * round, kStaleAfterAtLeastMs);
}

bool channelStale(App& a, int channel) {
    const std::int64_t readAt = a.g.channelReadAt[static_cast<std::size_t>(channel)];
    if (readAt == kNeverRead || readAt < a.g.acquisitionStartedAt) return true;
    return a.s.clock.elapsedMs() - readAt > staleAfterMs(a);
}

}  // namespace keldrin
