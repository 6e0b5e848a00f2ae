// What one try of a pair came to, from how its job ended.
#pragma once

#include "decide/schedule.h"

#include <cstddef>
#include <string>
#include <vector>

namespace sweep {

// How a pair's job ended, as the launcher left it.
struct Outcome {
  int status = -1;        // exit status, 128 + the signal; -1 when lost
  bool timed_out = false; // still running when its bound passed
  bool cut_short = false; // ended because the sweep was interrupted
  double seconds = 0;
  std::string out; // the first bytes of each stream, bounded
  std::string err;
  std::size_t dropped = 0; // bytes read past that bound and dropped
};

// The verdict words, the same in every report. A try is passed, failed,
// exchanged-then-hung or not-run; a pair that failed and then passed is
// flaky.
enum class Verdict { passed, failed, flaky, exchanged_then_hung, not_run };
const char *verdict_name(Verdict verdict);

struct Attempt {
  Verdict verdict = Verdict::failed;
  int round = 0; // counted from 1 over the whole sweep
  double seconds = 0;
  int status = -1;
  std::string reason; // one safe line; empty when passed
  std::string err;    // what the job said on standard error, made safe
};

// Passed only for status 0 and exactly the two lines. A job that printed
// both lines and then outlived its bound exchanged, then hung: the message
// crossed, and the MPI library's finalisation did not end. A job the
// sweep cut short was not run.
Attempt judge(const Outcome &outcome, double timeout);

// A pair and every try of it. Confirmation pairs were added by the sweep
// to try a node with a known-good partner.
struct PairRecord {
  Pair pair;
  bool confirmation = false;
  std::vector<Attempt> attempts;
};

// What the tries of a pair come to: not-run when none ran; flaky when one
// passed and another did not; passed when all that ran passed;
// exchanged-then-hung when one of them hung (the message crossed); failed
// when every try that ran failed.
Verdict final_verdict(const PairRecord &record);
// Whether any try of the pair passed.
bool ever_passed(const PairRecord &record);

} // namespace sweep
