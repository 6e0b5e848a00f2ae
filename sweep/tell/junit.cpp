// The JUnit report: a test case a pair, failed, skipped (not run) or
// passed, each with its verdict word as a property; then a suite of what
// was found, each suspect and a global fault a failed test case, so that
// a dashboard shows what the sweep blames, not only which pairs failed.
#include "tell/report.h"

#include <pugixml.hpp>

#include <sstream>

namespace sweep {

namespace {

struct Tally {
  double time = 0;
  int tests = 0;
  int failures = 0;
  int skipped = 0;
};

void add_totals(pugi::xml_node node, const Tally &tally,
                const std::string &name) {
  node.prepend_attribute("time") = tally.time;
  node.prepend_attribute("skipped") = tally.skipped;
  node.prepend_attribute("failures") = tally.failures;
  node.prepend_attribute("tests") = tally.tests;
  node.prepend_attribute("name") = name.c_str();
}

void pairs_suite(pugi::xml_node suite, const Report &report, Tally &tally) {
  for (const auto &record : report.records) {
    const Verdict verdict = final_verdict(record);
    const Attempt *last = last_run(record);
    const double seconds = last != nullptr ? last->seconds : 0.0;
    auto test = suite.append_child("testcase");
    test.append_attribute("classname") =
        ("exchange-sweep." +
         (record.confirmation ? std::string("confirmation") : report.pattern))
            .c_str();
    test.append_attribute("name") = pair_name(record.pair).c_str();
    test.append_attribute("time") = seconds;
    tally.time += seconds;
    ++tally.tests;
    auto properties = test.append_child("properties");
    auto property = properties.append_child("property");
    property.append_attribute("name") = "verdict";
    property.append_attribute("value") = verdict_name(verdict);
    property = properties.append_child("property");
    property.append_attribute("name") = "tries";
    property.append_attribute("value") =
        static_cast<unsigned>(record.attempts.size());
    const std::string reason = pair_reason(record);
    if (verdict == Verdict::failed || verdict == Verdict::slow) {
      ++tally.failures;
      auto failure = test.append_child("failure");
      failure.append_attribute("message") = reason.c_str();
      failure.append_attribute("type") = verdict_name(verdict);
      failure.text() = last != nullptr ? last->err.c_str() : "";
    } else if (verdict == Verdict::not_run) {
      ++tally.skipped;
      test.append_child("skipped").append_attribute("message") = reason.c_str();
    } else if (!reason.empty()) {
      test.append_child("system-out").text() =
          (std::string(verdict_name(verdict)) + ": " + reason).c_str();
    }
  }
}

// One failed test case a finding; one passed case when there is none.
void findings_suite(pugi::xml_node suite, const Report &report, Tally &tally) {
  const auto failed = [&](const std::string &kind, const std::string &name,
                          const std::string &message) {
    auto test = suite.append_child("testcase");
    test.append_attribute("classname") = ("exchange-sweep." + kind).c_str();
    test.append_attribute("name") = name.c_str();
    test.append_attribute("time") = 0.0;
    auto failure = test.append_child("failure");
    failure.append_attribute("message") = message.c_str();
    failure.append_attribute("type") = kind.c_str();
    ++tally.tests;
    ++tally.failures;
  };
  const Findings &found = report.findings;
  if (found.global_fault) {
    failed("global-fault", "global fault", *found.global_fault);
  }
  const auto each = [&](const char *kind, const std::vector<std::string> &list,
                        const std::string &message) {
    for (const auto &name : list) {
      failed(kind, name, message);
    }
  };
  each("suspect-switch", found.suspect_switches,
       "every pair of its nodes failed, inside it and out");
  each("suspect-uplink", found.suspect_uplinks,
       "every pair across it failed, and its nodes passed with each other");
  each("suspect-node", found.suspect_nodes,
       "failed with two or more partners, one of them known-good");
  for (const auto &link : found.suspect_links) {
    failed("suspect-link", pair_name(link),
           "failed on every try; both nodes passed with others");
  }
  each("undetermined", found.undetermined,
       "failed, and the evidence names neither it nor its partner");
  each("slow-uplink", found.slow_uplinks,
       "every pair across it was slow, and its nodes fast with each other");
  each("slow-node", found.slow_nodes,
       "slow with two or more partners, one of them fast");
  for (const auto &link : found.slow_links) {
    failed("slow-link", pair_name(link),
           "slow on every try; both nodes fast with others");
  }
  if (found.slow_everywhere) {
    failed("slow-everywhere", "slow everywhere", *found.slow_everywhere);
  }
  if (tally.tests == 0) {
    auto test = suite.append_child("testcase");
    test.append_attribute("classname") = "exchange-sweep.findings";
    test.append_attribute("name") = "nothing is suspect";
    test.append_attribute("time") = 0.0;
    if (!report.complete) {
      test.append_child("skipped").append_attribute("message") =
          "the sweep was interrupted";
      ++tally.skipped;
    }
    ++tally.tests;
  }
}

} // namespace

std::string to_junit(const Report &report) {
  pugi::xml_document document;
  auto declaration = document.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  declaration.append_attribute("encoding") = "UTF-8";
  auto suites = document.append_child("testsuites");
  auto pairs = suites.append_child("testsuite");
  Tally pair_tally;
  pairs_suite(pairs, report, pair_tally);
  add_totals(pairs, pair_tally, "exchange-sweep " + report.pattern);
  auto findings = suites.append_child("testsuite");
  Tally found_tally;
  findings_suite(findings, report, found_tally);
  add_totals(findings, found_tally, "exchange-sweep findings");
  Tally all = pair_tally;
  all.tests += found_tally.tests;
  all.failures += found_tally.failures;
  all.skipped += found_tally.skipped;
  add_totals(suites, all, "exchange-sweep " + report.pattern);
  std::ostringstream out;
  document.save(out, "  ");
  return out.str();
}

} // namespace sweep
