// What one try of a pair came to, from how its job ended.
#pragma once

#include "decide/schedule.h"

#include <cstddef>
#include <optional>
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
// exchanged-then-hung, not-run or slow (it exchanged, and measured slow
// against the pairs like it); a pair that failed and then passed is
// flaky.
enum class Verdict {
  passed,
  failed,
  flaky,
  exchanged_then_hung,
  not_run,
  slow
};
const char *verdict_name(Verdict verdict);

// What a measured try found of its path: half the median round trip, and
// the bandwidth of the slower way.
struct Figures {
  double latency_s = 0;
  double bandwidth = 0; // bytes a second
};

// How a try was run: a job of its own (pairs), or in one job of every pair
// (mesh).
enum class Engine { pairs, mesh };
const char *engine_name(Engine engine);

struct Attempt {
  Verdict verdict = Verdict::failed;
  Engine engine = Engine::pairs;
  int round = 0; // counted from 1 over the whole sweep
  double seconds = 0;
  int status = -1;
  std::string reason; // one safe line; empty when passed
  std::string err;    // what the job said on standard error, made safe
  std::optional<Figures> figures; // a measured try that exchanged
  // Exchanged and measured, then hung, and its figures were slow: a measure
  // of the pair as good as a slow try's.
  bool hung_slow = false;
};

// Passed only for status 0 and exactly the two lines: exchange's, or when
// MEASURED the probe's, one a rank, each with 777 and its figures. A job
// that printed both lines and then outlived its bound exchanged, then
// hung: the message crossed, and the MPI library's finalisation did not
// end. A job the sweep cut short was not run.
Attempt judge(const Outcome &outcome, double timeout, bool measured = false);

// A pair and every try of it. Confirmation pairs were added by the sweep
// to try a node with a known-good partner.
struct PairRecord {
  Pair pair;
  bool confirmation = false;
  std::vector<Attempt> attempts;
};

// What the tries of a pair come to: not-run when none ran; flaky when one
// passed and another failed or hung; passed when one passed and every
// other that ran passed or was slow; slow when none passed and one was
// slow; exchanged-then-hung when one of them hung (the message crossed);
// failed when every try that ran failed.
Verdict final_verdict(const PairRecord &record);
// Whether any try of the pair exchanged: passed, or slow.
bool ever_passed(const PairRecord &record);
// Whether any try of the pair passed and was not slow.
bool ever_fast(const PairRecord &record);
// The figures of the pair's last try that has them, or none.
const Figures *last_figures(const PairRecord &record);

} // namespace sweep
