#include "tell/progress.h"

namespace sweep {

std::string round_line(int number, const char *kind, const Round &round,
                       const std::vector<Attempt> &tries) {
  int failed = 0;
  int hung = 0;
  int cut = 0;
  int slow = 0;
  for (const auto &attempt : tries) {
    slow += attempt.verdict == Verdict::slow ? 1 : 0;
    failed += attempt.verdict == Verdict::failed ? 1 : 0;
    hung += attempt.verdict == Verdict::exchanged_then_hung ? 1 : 0;
    cut += attempt.verdict == Verdict::not_run ? 1 : 0;
  }
  std::string line = "round " + std::to_string(number) + " (" + kind +
                     "): " + std::to_string(round.size()) +
                     (round.size() == 1 ? " pair, " : " pairs, ") +
                     std::to_string(failed) + " failed";
  if (hung > 0) {
    line += ", " + std::to_string(hung) + " exchanged then hung";
  }
  if (slow > 0) {
    line += ", " + std::to_string(slow) + " slow";
  }
  if (cut > 0) {
    line += ", " + std::to_string(cut) + " cut short";
  }
  return line;
}

} // namespace sweep
