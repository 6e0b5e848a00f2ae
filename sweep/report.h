// What each pair's job came to, which nodes and links the failures point
// at, and the reports: the table, JSON and JUnit.
#pragma once

#include "schedule.h"

#include <nlohmann/json.hpp>

#include <ostream>
#include <string>
#include <vector>

namespace sweep {

// How a pair's job ended, as the launcher left it.
struct Outcome {
  int status = 0;         // exit status; 128 + the signal when killed
  bool timed_out = false; // still running when its bound passed
  double seconds = 0;
  std::string out;
  std::string err;
};

enum class Verdict { passed, failed, exchanged_then_hung };

struct Result {
  Pair pair;
  int round = 0; // counted from 1
  Verdict verdict = Verdict::failed;
  double seconds = 0;
  int status = 0;
  std::string reason; // empty when passed
  std::string err;    // what the job said on standard error
};

// Passed only for status 0 and exactly the two lines. A job that printed
// both lines and then outlived its bound exchanged, then hung: the message
// crossed, and the MPI library's finalisation did not end.
Result judge(const Pair &pair, const Outcome &outcome, double timeout);

struct Suspects {
  std::vector<std::string> nodes;
  std::vector<Pair> links;
};
// A node is suspect when all its pairs failed and a partner of it passed
// with another node; a link when its pair failed and both its nodes passed
// with others. Pairs that exchanged, then hung, are no evidence either way.
Suspects find_suspects(const std::vector<Result> &results);

const char *verdict_name(Verdict verdict);
std::string pair_name(const Pair &pair);

void write_table(std::ostream &out, const std::vector<Result> &results,
                 const Suspects &suspects);
nlohmann::ordered_json to_json(const std::string &pattern, double timeout,
                               const std::vector<Result> &results,
                               const Suspects &suspects);
std::string to_junit(const std::string &pattern,
                     const std::vector<Result> &results);

} // namespace sweep
