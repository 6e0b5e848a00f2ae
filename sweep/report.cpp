#include "report.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <iomanip>
#include <iterator>
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
        return line.find_first_not_of(" -\t") != std::string::npos;
      });
  return said == lines.end() ? "" : *said;
}

// Text for an XML document: no control characters, and ASCII only, as a
// job's output may hold any bytes at all. Long output is cut.
std::string xml_safe(const std::string &text) {
  std::string safe = text.substr(0, 4096);
  for (char &character : safe) {
    const auto byte = static_cast<unsigned char>(character);
    if ((byte < 0x20 && character != '\n' && character != '\t') ||
        byte >= 0x7f) {
      character = '?';
    }
  }
  return safe;
}

} // namespace

const char *verdict_name(Verdict verdict) {
  switch (verdict) {
  case Verdict::passed:
    return "passed";
  case Verdict::exchanged_then_hung:
    return "exchanged-then-hung";
  case Verdict::failed:
    break;
  }
  return "failed";
}

std::string pair_name(const Pair &pair) {
  return pair.first + "-" + pair.second;
}

Result judge(const Pair &pair, const Outcome &outcome, double timeout) {
  Result result;
  result.pair = pair;
  result.seconds = outcome.seconds;
  result.status = outcome.status;
  result.err = outcome.err;
  const auto lines = lines_of(outcome.out);
  const bool both =
      has_line(lines, sent_line) && has_line(lines, received_line);
  if (outcome.timed_out) {
    result.verdict = both ? Verdict::exchanged_then_hung : Verdict::failed;
    result.reason =
        both ? "exchanged, then hung: no exit within " : "timed out after ";
    result.reason += seconds_text(timeout) + " s";
    return result;
  }
  if (outcome.status == 0 && both && lines.size() == 2 &&
      outcome.out.back() == '\n') {
    result.verdict = Verdict::passed;
    return result;
  }
  result.reason = first_said(outcome.err);
  if (!result.reason.empty()) {
    return result;
  }
  if (has_line(lines, "needs 2 processors ")) {
    result.reason = "each process ran alone (\"needs 2 processors\"): "
                    "the launcher is not of the program's MPI";
  } else if (outcome.status != 0) {
    result.reason = "status " + std::to_string(outcome.status);
  } else {
    result.reason = "unexpected output: " + first_said(outcome.out);
  }
  return result;
}

namespace {

// The pairs that tell something of nodes and links: all but those that
// exchanged, then hung, a fault of the MPI library.
class Evidence {
public:
  explicit Evidence(const std::vector<Result> &results) {
    for (const auto &result : results) {
      if (result.verdict == Verdict::exchanged_then_hung) {
        continue;
      }
      pairs_.push_back(&result);
      for (const auto *node : {&result.pair.first, &result.pair.second}) {
        if (std::find(nodes_.begin(), nodes_.end(), *node) == nodes_.end()) {
          nodes_.push_back(*node);
        }
      }
    }
  }
  [[nodiscard]] const std::vector<std::string> &nodes() const { return nodes_; }
  [[nodiscard]] const std::vector<const Result *> &pairs() const {
    return pairs_;
  }
  // Whether NODE passed with some node other than NOT_WITH.
  [[nodiscard]] bool passed_besides(const std::string &node,
                                    const std::string &not_with) const {
    return std::any_of(pairs_.begin(), pairs_.end(), [&](const Result *pair) {
      return pair->verdict == Verdict::passed && involves(*pair, node) &&
             partner(*pair, node) != not_with;
    });
  }
  [[nodiscard]] bool suspect_node(const std::string &node) const {
    bool all_failed = true;
    bool partner_fine = false;
    for (const Result *pair : pairs_) {
      if (involves(*pair, node)) {
        all_failed = all_failed && pair->verdict == Verdict::failed;
        partner_fine =
            partner_fine || passed_besides(partner(*pair, node), node);
      }
    }
    return all_failed && partner_fine;
  }

private:
  static bool involves(const Result &result, const std::string &node) {
    return result.pair.first == node || result.pair.second == node;
  }
  static const std::string &partner(const Result &result,
                                    const std::string &node) {
    return result.pair.first == node ? result.pair.second : result.pair.first;
  }
  std::vector<const Result *> pairs_;
  std::vector<std::string> nodes_;
};

} // namespace

Suspects find_suspects(const std::vector<Result> &results) {
  const Evidence evidence(results);
  Suspects suspects;
  for (const auto &node : evidence.nodes()) {
    if (evidence.suspect_node(node)) {
      suspects.nodes.push_back(node);
    }
  }
  for (const Result *pair : evidence.pairs()) {
    if (pair->verdict == Verdict::failed &&
        evidence.passed_besides(pair->pair.first, pair->pair.second) &&
        evidence.passed_besides(pair->pair.second, pair->pair.first)) {
      suspects.links.push_back(pair->pair);
    }
  }
  return suspects;
}

void write_table(std::ostream &out, const std::vector<Result> &results,
                 const Suspects &suspects) {
  std::size_t width = 4;
  for (const auto &result : results) {
    width = std::max(width, pair_name(result.pair).size());
  }
  const std::ios::fmtflags flags = out.flags();
  out << std::left << std::setw(static_cast<int>(width)) << "PAIR"
      << "  " << std::setw(19) << "RESULT" << std::right << std::setw(8)
      << "SECONDS"
      << "  REASON\n";
  for (const auto &result : results) {
    out << std::left << std::setw(static_cast<int>(width))
        << pair_name(result.pair) << "  " << std::setw(19)
        << verdict_name(result.verdict) << std::right << std::fixed
        << std::setprecision(1) << std::setw(8) << result.seconds << "  "
        << result.reason << "\n";
  }
  out.flags(flags);
  out << "\nsuspect nodes:";
  for (const auto &node : suspects.nodes) {
    out << " " << node;
  }
  out << (suspects.nodes.empty() ? " none\n" : "\n") << "suspect links:";
  for (const auto &link : suspects.links) {
    out << " " << pair_name(link);
  }
  out << (suspects.links.empty() ? " none\n" : "\n");
}

nlohmann::ordered_json to_json(const std::string &pattern, double timeout,
                               const std::vector<Result> &results,
                               const Suspects &suspects) {
  nlohmann::ordered_json pairs = nlohmann::ordered_json::array();
  bool all_passed = true;
  for (const auto &result : results) {
    const bool passed = result.verdict == Verdict::passed;
    all_passed = all_passed && passed;
    pairs.push_back({{"nodes", {result.pair.first, result.pair.second}},
                     {"round", result.round},
                     {"passed", passed},
                     {"verdict", verdict_name(result.verdict)},
                     {"seconds", result.seconds},
                     {"status", result.status},
                     {"reason", result.reason}});
  }
  nlohmann::ordered_json links = nlohmann::ordered_json::array();
  std::transform(suspects.links.begin(), suspects.links.end(),
                 std::back_inserter(links), [](const Pair &link) {
                   return nlohmann::ordered_json{link.first, link.second};
                 });
  return {{"pattern", pattern},     {"timeout", timeout},
          {"pairs", pairs},         {"suspect_nodes", suspects.nodes},
          {"suspect_links", links}, {"passed", all_passed}};
}

std::string to_junit(const std::string &pattern,
                     const std::vector<Result> &results) {
  pugi::xml_document document;
  auto declaration = document.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  declaration.append_attribute("encoding") = "UTF-8";
  auto suites = document.append_child("testsuites");
  auto suite = suites.append_child("testsuite");
  double total = 0;
  int failures = 0;
  for (const auto &result : results) {
    auto test = suite.append_child("testcase");
    test.append_attribute("classname") = ("exchange-sweep." + pattern).c_str();
    test.append_attribute("name") = xml_safe(pair_name(result.pair)).c_str();
    test.append_attribute("time") = result.seconds;
    total += result.seconds;
    if (result.verdict != Verdict::passed) {
      ++failures;
      auto failure = test.append_child("failure");
      failure.append_attribute("message") = xml_safe(result.reason).c_str();
      failure.append_attribute("type") = verdict_name(result.verdict);
      failure.text() = xml_safe(result.err).c_str();
    }
  }
  for (auto node : {suites, suite}) {
    node.prepend_attribute("time") = total;
    node.prepend_attribute("failures") = failures;
    node.prepend_attribute("tests") = static_cast<int>(results.size());
    node.prepend_attribute("name") = ("exchange-sweep " + pattern).c_str();
  }
  std::ostringstream out;
  document.save(out, "  ");
  return out.str();
}

} // namespace sweep
