// What the sweep itself needs to hold K pairs at once, checked before
// anything is launched, so that its own lack of room is never taken for a
// pair's failure.
#pragma once

#include <cstddef>
#include <string>

namespace sweep {

// Raises the soft limit on open descriptors to the hard one, then says why
// PARALLEL pairs at once cannot be held, or nothing: each pair holds two
// pipes while its launcher runs, and a launcher is a few processes.
std::string room_for(std::size_t parallel, std::size_t open_now);

} // namespace sweep
