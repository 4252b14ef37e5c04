#pragma once
// The program assembled: every handler folder, the start-up sequence and the event
// wiring over one set of program-wide variables and one window model.
#include "display/display.h"
#include "link/link.h"
#include "receiver/receiver.h"
#include "recording/recording.h"
#include "recording/unsaved_rows.h"
#include "shell/shell.h"

namespace keldrin {

void startUpSequence(App& a);
// Starts publishing when 发布.ini turns it on; a problem with the file is shown and
// leaves it off.
void startPublishing(App& a);
// Connects every event of the window to its handler.
void wireEvents(App& a);

// The whole program over the services it is given: the program-wide variables and the
// window model wired to their handlers. The Qt program, the tests and the benchmarks
// all assemble it this way; only the services differ. Whoever runs it drives the
// window's timers (w.timers()).
class Program {
public:
    explicit Program(Services& services) : app{g, w, services} { wireEvents(app); }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Runs the start-up sequence as the first event.
    void start() {
        app.s.dispatcher.post([this] {
            startUpSequence(app);
            openUnsavedRows(app);
            startPublishing(app);
        });
    }

    Globals g;
    MainWin w;
    App app;
};

}  // namespace keldrin
