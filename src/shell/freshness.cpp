#include "shell/freshness.h"

#include <algorithm>

namespace keldrin {

std::int64_t staleAfterMs(const App& a) {
    std::int64_t ticked = 0;
    for (int i = 1; i <= kChannels; ++i) ticked += a.w.选择框(i).checked() ? 1 : 0;
    const std::int64_t round = ticked * std::max(a.w.时钟2.interval(), 0);
    return std::max(3 * round, kStaleAfterAtLeastMs);
}

PerChannel<bool> staleChannels(App& a) {
    const std::int64_t now = a.s.clock.elapsedMs();
    const std::int64_t after = staleAfterMs(a);
    PerChannel<bool> stale{};
    for (int i = 1; i <= kChannels; ++i) {
        if (!a.w.选择框(i).checked()) continue;
        // kNeverRead lies before any start.
        const std::int64_t readAt = a.g.channelReadAt[static_cast<std::size_t>(i)];
        stale[static_cast<std::size_t>(i)] = readAt < a.g.acquisitionStartedAt || now - readAt > after;
    }
    return stale;
}

}  // namespace keldrin
