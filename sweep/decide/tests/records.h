// Pairs and their tries written short, for the tests of the rules:
// "n1-n2 P, n2-n3 FF, +n3-n1 FP" is n1-n2 passed, n2-n3 failed twice, and
// a confirmation pair n3-n1 that failed, then passed (H: exchanged, then
// hung; N: not run; S: slow).
#pragma once

#include "decide/verdict.h"

#include <sstream>
#include <string>
#include <vector>

inline std::vector<sweep::PairRecord> records(const std::string &text) {
  std::vector<sweep::PairRecord> list;
  std::istringstream items(text);
  for (std::string item; std::getline(items, item, ',');) {
    std::istringstream words(item);
    std::string pair;
    std::string tries;
    words >> pair >> tries;
    sweep::PairRecord record;
    record.confirmation = pair.front() == '+';
    if (record.confirmation) {
      pair.erase(0, 1);
    }
    const auto dash = pair.find('-');
    record.pair = {pair.substr(0, dash), pair.substr(dash + 1)};
    int round = 0;
    for (const char verdict : tries) {
      sweep::Attempt attempt;
      attempt.round = ++round;
      attempt.verdict = verdict == 'P'   ? sweep::Verdict::passed
                        : verdict == 'H' ? sweep::Verdict::exchanged_then_hung
                        : verdict == 'N' ? sweep::Verdict::not_run
                        : verdict == 'S' ? sweep::Verdict::slow
                                         : sweep::Verdict::failed;
      if (verdict == 'F') {
        attempt.reason = "timed out after 30 s";
      }
      record.attempts.push_back(attempt);
    }
    list.push_back(record);
  }
  return list;
}
