#pragma once

// SIGTERM, SIGINT and SIGHUP stop a mode's work instead of ending the process where it stands,
// so that its work folders and temporaries go with it; the process then ends by that signal.
// The handlers only write the signal's number to a pipe; a thread of its own reads it.

#include <functional>

#include "core/cancellation.h"

namespace calvoro::termination {

// From now on the three signals cancel token(); onStop, when given, then runs on a thread of its
// own with the signal's number. A second signal ends the process at once (what it leaves is
// swept at the next start, as after SIGKILL). Later calls change nothing.
void install(std::function<void(int signal)> onStop = {});

// Cancelled once one of the signals came.
CancellationToken token();

// The first signal that came, or 0.
int received();

// Ends the process as the signal does by default, after flushing standard output and error.
[[noreturn]] void endBy(int signal);

// endBy(received()) when a signal came; otherwise returns.
void endIfSignalled();

}  // namespace calvoro::termination
