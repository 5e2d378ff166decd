// The serve command: the collection listener and the admin listener on one store, until SIGINT or
// SIGTERM. runCli calls it on the program's main thread before any other thread exists, because the stop
// signals are blocked here for every thread that starts after.
#pragma once

#include "app/options.h"

#include <ostream>

namespace zncip::collector
{

// The exit code: 0 once stopped by a signal, kExitFailure when a listener cannot start.
int serve(const Options& options, std::ostream& out, std::ostream& err);

} // namespace zncip::collector
