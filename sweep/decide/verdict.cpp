#include "decide/verdict.h"

#include "given/text.h"

#include <algorithm>
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
  case Verdict::failed:
    break;
  }
  return "failed";
}

Attempt judge(const Outcome &outcome, double timeout) {
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
  const bool both =
      has_line(lines, sent_line) && has_line(lines, received_line);
  if (outcome.timed_out) {
    attempt.verdict = both ? Verdict::exchanged_then_hung : Verdict::failed;
    attempt.reason =
        both ? "exchanged, then hung: no exit within " : "timed out after ";
    attempt.reason += seconds_text(timeout) + " s";
    return attempt;
  }
  if (outcome.status == 0 && both && lines.size() == 2 &&
      outcome.out.back() == '\n' && outcome.dropped == 0) {
    attempt.verdict = Verdict::passed;
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
  bool other = false;
  bool hung = false;
  for (const auto &attempt : record.attempts) {
    if (attempt.verdict == Verdict::not_run) {
      continue;
    }
    ran = true;
    passed = passed || attempt.verdict == Verdict::passed;
    other = other || attempt.verdict != Verdict::passed;
    hung = hung || attempt.verdict == Verdict::exchanged_then_hung;
  }
  if (!ran) {
    return Verdict::not_run;
  }
  if (passed) {
    return other ? Verdict::flaky : Verdict::passed;
  }
  return hung ? Verdict::exchanged_then_hung : Verdict::failed;
}

bool ever_passed(const PairRecord &record) {
  return std::any_of(record.attempts.begin(), record.attempts.end(),
                     [](const Attempt &attempt) {
                       return attempt.verdict == Verdict::passed;
                     });
}

} // namespace sweep
