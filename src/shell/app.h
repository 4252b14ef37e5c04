#pragma once
// What every handler works on: the program-wide variables, the window model and the
// services. Passed by reference; there are no singletons.
#include "core/services.h"
#include "shell/globals.h"
#include "shell/mainwin.h"

namespace keldrin {

struct App {
    Globals& g;
    MainWin& w;
    Services& s;

    // Blocks the running handler; other events wait until it returns.
    void pause(int ms) { s.dispatcher.pause(ms); }
    // Acquisition runs exactly while the caption of 启动 is "停止".
    bool acquiring() const { return w.启动.text() == "停止"; }
};

}  // namespace keldrin
