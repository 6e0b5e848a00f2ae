// The JUnit report: a test case a pair, failed, skipped (not run) or
// passed, each with its verdict word as a property.
#include "report.h"

#include <pugixml.hpp>

#include <sstream>

namespace sweep {

std::string to_junit(const Report &report) {
  pugi::xml_document document;
  auto declaration = document.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  declaration.append_attribute("encoding") = "UTF-8";
  auto suites = document.append_child("testsuites");
  auto suite = suites.append_child("testsuite");
  double total = 0;
  int failures = 0;
  int skipped = 0;
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
    total += seconds;
    auto properties = test.append_child("properties");
    auto property = properties.append_child("property");
    property.append_attribute("name") = "verdict";
    property.append_attribute("value") = verdict_name(verdict);
    property = properties.append_child("property");
    property.append_attribute("name") = "tries";
    property.append_attribute("value") =
        static_cast<unsigned>(record.attempts.size());
    const std::string reason = pair_reason(record);
    if (verdict == Verdict::failed) {
      ++failures;
      auto failure = test.append_child("failure");
      failure.append_attribute("message") = reason.c_str();
      failure.append_attribute("type") = verdict_name(verdict);
      failure.text() = last != nullptr ? last->err.c_str() : "";
    } else if (verdict == Verdict::not_run) {
      ++skipped;
      test.append_child("skipped").append_attribute("message") = reason.c_str();
    } else if (!reason.empty()) {
      test.append_child("system-out").text() =
          (std::string(verdict_name(verdict)) + ": " + reason).c_str();
    }
  }
  for (auto node : {suites, suite}) {
    node.prepend_attribute("time") = total;
    node.prepend_attribute("skipped") = skipped;
    node.prepend_attribute("failures") = failures;
    node.prepend_attribute("tests") = static_cast<int>(report.records.size());
    node.prepend_attribute("name") =
        ("exchange-sweep " + report.pattern).c_str();
  }
  std::ostringstream out;
  document.save(out, "  ");
  return out.str();
}

} // namespace sweep
