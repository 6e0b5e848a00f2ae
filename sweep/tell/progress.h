// The sweep's progress on standard error: one line a round.
#pragma once

#include "decide/schedule.h"
#include "decide/verdict.h"

#include <string>
#include <vector>

namespace sweep {

// "round 3 (retry): 2 pairs, 1 failed, 1 exchanged then hung"
std::string round_line(int number, const char *kind, const Round &round,
                       const std::vector<Attempt> &tries);

} // namespace sweep
