#pragma once
// The program assembled: every handler folder, the start-up sequence and the event
// wiring over one set of program-wide variables and one window model.
#include "display/display.h"
#include "link/link.h"
#include "receiver/receiver.h"
#include "recording/recording.h"
#include "shell/shell.h"

namespace keldrin {

void startUpSequence(App& a);
// Connects every event of the window to its handler.
void wireEvents(App& a);

}  // namespace keldrin
