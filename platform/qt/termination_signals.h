// SIGTERM and SIGHUP (a session that ends, `kill`) end the program the normal way, so that the MIDI
// port's reset runs and no note stays on.
#pragma once

#include <functional>

class QObject;

namespace platform {

// From now on SIGTERM and SIGHUP run `quit` on the thread of `context` (its event loop), once per
// signal; the signal handler itself only writes a byte to a pipe. False when that cannot be set up.
bool OnTerminationSignals(QObject* context, std::function<void()> quit);

}  // namespace platform
