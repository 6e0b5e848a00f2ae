// Stopping the sweep: SIGINT, SIGTERM (Slurm's at a time limit) and SIGHUP
// ask it to stop, a second one to end every job at once; and the sweep's
// own failure, when it cannot go on (no descriptors, no processes left).
#pragma once

#include <string>

namespace sweep {

// Once, at start: the handlers for the signals above.
void install_stop_handlers();
// How often the sweep was asked to stop (at most 2), and by which signal
// first (0: none).
int stop_requests();
int stop_signal();
// Why the sweep itself cannot go on, or empty; set once.
const std::string &sweep_failure();
void fail_sweep(const std::string &why);
// Whether the sweep is to stop, for either reason.
bool stopping();

} // namespace sweep
