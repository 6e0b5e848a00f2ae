#include "decide/verdict.h"

#include "given/probe_line.h"
#include "given/text.h"

#include <algorithm>
#include <array>
#include <sstream>

namespace sweep {

namespace {

constexpr const char *sent_line = " process 0 : 777 has to sent to: 1";
constexpr const char *received_line =
    " process 1 : 777 has been received from: 0";

std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    lines.push_back(line);
  }
  return lines;
}

bool has_line(const std::vector<std::string> &lines, const char *line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string seconds_text(double seconds) {
  std::ostringstream text;
  text << seconds;
  return text.str();
}

// Both lines of the probe, one a rank, each with 777; the pair's figures
// (rank 0's latency, the slower way's bandwidth) when both measured.
bool probe_lines(const std::vector<std::string> &lines,
                 std::optional<Figures> &figures) {
  std::array<std::optional<ProbeLine>, 2> ranks;
  for (const auto &line : lines) {
    const auto parsed = parse_probe_line(line);
    if (!parsed || parsed->partner != 1 - parsed->rank ||
        parsed->value != 777) {
      continue;
    }
    auto &seat = parsed->rank == 0 ? ranks[0] : ranks[1];
    if ((parsed->rank == 0 || parsed->rank == 1) && !seat) {
      seat = parsed;
    }
  }
  if (!ranks[0] || !ranks[1]) {
    return false;
  }
  if (ranks[0]->latency_s >= 0 && ranks[0]->bandwidth >= 0 &&
      ranks[1]->bandwidth >= 0) {
    figures = Figures{ranks[0]->latency_s,
                      std::min(ranks[0]->bandwidth, ranks[1]->bandwidth)};
  }
  return true;
}

// The first line that says something: launchers frame their messages in
// lines of dashes.
std::string first_said(const std::string &text) {
  const auto lines = lines_of(text);
  const auto said =
      std::find_if(lines.begin(), lines.end(), [](const std::string &line) {
        return line.find_first_not_of(" -\t\r") != std::string::npos;
      });
  return said == lines.end() ? "" : one_line(*said);
}

} // namespace

const char *verdict_name(Verdict verdict) {
  switch (verdict) {
  case Verdict::passed:
    return "passed";
  case Verdict::flaky:
    return "flaky";
  case Verdict::exchanged_then_hung:
    return "exchanged-then-hung";
  case Verdict::not_run:
    return "not-run";
  case Verdict::slow:
    return "slow";
  case Verdict::failed:
    break;
  }
  return "failed";
}

const char *engine_name(Engine engine) {
  return engine == Engine::mesh ? "mesh" : "pairs";
}

Attempt judge(const Outcome &outcome, double timeout, bool measured) {
  Attempt attempt;
  attempt.seconds = outcome.seconds;
  attempt.status = outcome.status;
  attempt.err = safe_text(outcome.err, true);
  if (outcome.cut_short && !outcome.timed_out) {
    attempt.verdict = Verdict::not_run;
    attempt.reason = "cut short: the sweep was interrupted";
    return attempt;
  }
  const auto lines = lines_of(outcome.out);
  std::optional<Figures> figures;
  const bool both =
      measured ? probe_lines(lines, figures)
               : has_line(lines, sent_line) && has_line(lines, received_line);
  if (outcome.timed_out) {
    attempt.verdict = both ? Verdict::exchanged_then_hung : Verdict::failed;
    // The measure was done before the hang: it still tells how fast.
    attempt.figures = figures;
    attempt.reason =
        both ? "exchanged, then hung: no exit within " : "timed out after ";
    attempt.reason += seconds_text(timeout) + " s";
    return attempt;
  }
  if (outcome.status == 0 && both && lines.size() == 2 &&
      outcome.out.back() == '\n' && outcome.dropped == 0) {
    attempt.verdict = Verdict::passed;
    attempt.figures = figures;
    return attempt;
  }
  attempt.reason = first_said(outcome.err);
  if (!attempt.reason.empty()) {
    return attempt;
  }
  if (has_line(lines, "needs 2 processors ")) {
    attempt.reason = "each process ran alone (\"needs 2 processors\"): "
                     "the launcher is not of the program's MPI";
  } else if (outcome.status < 0) {
    attempt.reason = "its exit status was lost";
  } else if (outcome.status != 0) {
    attempt.reason = "status " + std::to_string(outcome.status);
  } else {
    attempt.reason = one_line("unexpected output: " + first_said(outcome.out));
  }
  return attempt;
}

Verdict final_verdict(const PairRecord &record) {
  bool ran = false;
  bool passed = false;
  bool slow = false;
  bool other = false;
  bool hung = false;
  bool unmeasured = false;
  for (const auto &attempt : record.attempts) {
    if (attempt.verdict == Verdict::not_run) {
      continue;
    }
    ran = true;
    passed = passed || attempt.verdict == Verdict::passed;
    slow = slow || attempt.verdict == Verdict::slow || attempt.hung_slow;
    hung = hung || attempt.verdict == Verdict::exchanged_then_hung;
    other = other || attempt.verdict == Verdict::failed ||
            attempt.verdict == Verdict::exchanged_then_hung;
    unmeasured =
        unmeasured || attempt.verdict == Verdict::failed ||
        (attempt.verdict == Verdict::exchanged_then_hung && !attempt.hung_slow);
  }
  if (!ran) {
    return Verdict::not_run;
  }
  if (passed) {
    return other ? Verdict::flaky : Verdict::passed;
  }
  // Slow stands only when every try measured it slow (a try that hung
  // after a slow measure counts): a slow try beside one that failed, or hung
  // without a slow measure, is no slow verdict.
  if (slow) {
    return unmeasured ? Verdict::flaky : Verdict::slow;
  }
  return hung ? Verdict::exchanged_then_hung : Verdict::failed;
}

bool ever_passed(const PairRecord &record) {
  return std::any_of(record.attempts.begin(), record.attempts.end(),
                     [](const Attempt &attempt) {
                       return attempt.verdict == Verdict::passed ||
                              attempt.verdict == Verdict::slow;
                     });
}

bool ever_fast(const PairRecord &record) {
  return std::any_of(record.attempts.begin(), record.attempts.end(),
                     [](const Attempt &attempt) {
                       return attempt.verdict == Verdict::passed;
                     });
}

const Figures *last_figures(const PairRecord &record) {
  const auto attempt =
      std::find_if(record.attempts.rbegin(), record.attempts.rend(),
                   [](const Attempt &one) { return one.figures.has_value(); });
  return attempt == record.attempts.rend() ? nullptr : &*attempt->figures;
}

} // namespace sweep
