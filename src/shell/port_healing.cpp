// The link's upkeep. A recording left overnight must get its link back by itself: a
// port whose device went away (an adapter pulled, a PC back from sleep) is opened again
// once the device returns, and a link that has gone quiet is opened afresh.
#include "common/messages.h"
#include "protocol/frames.h"
#include "shell/shell.h"

namespace keldrin {

void reportPortState(App& a) {
    if (!a.s.publisher.enabled()) return;
    a.s.publisher.portState("COM" + std::to_string(a.s.port.portNumber()),
                            a.g.link.healing ? "reconnecting" : a.s.port.isOpen() ? "connected" : "closed");
}

void healPort(App& a) {
    a.g.link.healing = true;
    a.w.setTitle(msg::titleLinkLost(a.s.port.portNumber()));
    reportPortState(a);
}

void portBack(App& a) {
    a.g.link.healing = false;
    a.s.port.send(kConnectGreeting);
    a.w.setTitle(msg::titleConnected(a.s.port.portNumber()));
    // Whatever arrived before the loss is no start of the next frame.
    a.g.receiveBuffer.clear();
    a.g.link.quietSince = a.s.clock.elapsedMs();
    reportPortState(a);
}

void 端口1_lost(App& a) {
    // Opened again meanwhile (连接, a command's reopen): that open stands.
    if (a.s.port.isOpen()) return;
    healPort(a);
}

void linkTimer_tick(App& a) {
    reportPortState(a);  // also what 连接 and the port dialog did
    LinkUpkeep& k = a.g.link;
    // At the rate the program holds, which a command may have changed meanwhile.
    if (k.healing) {
        if (a.s.port.open()) portBack(a);
        return;
    }
    const std::int64_t now = a.s.clock.elapsedMs();
    if (k.bytesReceived != k.bytesSeen || !a.acquiring() || !a.s.port.isOpen()) {
        k.bytesSeen = k.bytesReceived;
        k.quietSince = now;
        return;
    }
    // A box that was switched off and on, or an adapter that stays dead after the PC
    // slept, answers nothing on a port that still looks open. A parameter command
    // waiting for its reply owns the port.
    if (now - k.quietSince < kQuietReopenMs || a.g.awaitingParameterReply != 0) return;
    k.quietSince = now;
    a.s.port.close();
    if (a.s.port.open()) {
        portBack(a);
    } else {
        healPort(a);
    }
}

}  // namespace keldrin
