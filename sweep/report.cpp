#include "report.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <iomanip>
#include <sstream>

namespace sweep {

namespace {

const std::string sent_line = " process 0 : 777 has to sent to: 1";
const std::string received_line = " process 1 : 777 has been received from: 0";

std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

bool has_line(const std::string &text, const std::string &line) {
  const auto lines = lines_of(text);
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
  for (const auto &line : lines_of(text)) {
    if (line.find_first_not_of(" -\t") != std::string::npos) {
      return line;
    }
  }
  return "";
}

// Text for an XML document: no control characters, and ASCII only, as a
// job's output may hold any bytes at all. Long output is cut.
std::string xml_safe(const std::string &text) {
  std::string safe = text.substr(0, 4096);
  for (char &c : safe) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\n' && c != '\t') || byte >= 0x7f) {
      c = '?';
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
  const bool both = has_line(outcome.out, sent_line) &&
                    has_line(outcome.out, received_line);
  if (outcome.timed_out) {
    if (both) {
      result.verdict = Verdict::exchanged_then_hung;
      result.reason = "exchanged, then hung: no exit within " +
                      seconds_text(timeout) + " s";
    } else {
      result.reason = "timed out after " + seconds_text(timeout) + " s";
    }
    return result;
  }
  const std::string exact_a = sent_line + "\n" + received_line + "\n";
  const std::string exact_b = received_line + "\n" + sent_line + "\n";
  if (outcome.status == 0 && (outcome.out == exact_a || outcome.out == exact_b)) {
    result.verdict = Verdict::passed;
    return result;
  }
  result.reason = first_said(outcome.err);
  if (!result.reason.empty()) {
    return result;
  }
  if (has_line(outcome.out, "needs 2 processors ")) {
    result.reason = "each process ran alone (\"needs 2 processors\"): "
                    "the launcher is not of the program's MPI";
  } else if (outcome.status != 0) {
    result.reason = "status " + std::to_string(outcome.status);
  } else {
    result.reason = "unexpected output: " + first_said(outcome.out);
  }
  return result;
}

Suspects find_suspects(const std::vector<Result> &results) {
  std::vector<const Result *> evidence;
  std::vector<std::string> nodes;
  for (const auto &result : results) {
    if (result.verdict == Verdict::exchanged_then_hung) {
      continue;
    }
    evidence.push_back(&result);
    for (const auto *node : {&result.pair.first, &result.pair.second}) {
      if (std::find(nodes.begin(), nodes.end(), *node) == nodes.end()) {
        nodes.push_back(*node);
      }
    }
  }
  const auto partner = [](const Result &result, const std::string &node) {
    return result.pair.first == node ? result.pair.second : result.pair.first;
  };
  const auto involves = [](const Result &result, const std::string &node) {
    return result.pair.first == node || result.pair.second == node;
  };
  // Whether NODE passed with some node other than NOT_WITH.
  const auto passed_besides = [&](const std::string &node,
                                  const std::string &not_with) {
    return std::any_of(evidence.begin(), evidence.end(), [&](const Result *r) {
      return r->verdict == Verdict::passed && involves(*r, node) &&
             partner(*r, node) != not_with;
    });
  };

  Suspects suspects;
  for (const auto &node : nodes) {
    bool all_failed = true;
    bool partner_fine = false;
    for (const Result *r : evidence) {
      if (!involves(*r, node)) {
        continue;
      }
      all_failed = all_failed && r->verdict == Verdict::failed;
      partner_fine = partner_fine || passed_besides(partner(*r, node), node);
    }
    if (all_failed && partner_fine) {
      suspects.nodes.push_back(node);
    }
  }
  for (const Result *r : evidence) {
    if (r->verdict == Verdict::failed &&
        passed_besides(r->pair.first, r->pair.second) &&
        passed_besides(r->pair.second, r->pair.first)) {
      suspects.links.push_back(r->pair);
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
  for (const auto &link : suspects.links) {
    links.push_back({link.first, link.second});
  }
  return {{"pattern", pattern},
          {"timeout", timeout},
          {"pairs", pairs},
          {"suspect_nodes", suspects.nodes},
          {"suspect_links", links},
          {"passed", all_passed}};
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
