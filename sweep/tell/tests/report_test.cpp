#include "decide/blame.h"
#include "decide/schedule.h"
#include "records.h"
#include "tell/report.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <sstream>

namespace {

// n3 dead, confirmed; n5-n6 flaky; n6-n1 hung; the rest passed.
sweep::Report sample() {
  sweep::Report report;
  report.pattern = "ring";
  report.nodes = 6;
  report.records = records("n1-n2 P, n2-n3 FF, n3-n4 FF, n4-n5 P, n5-n6 FP, "
                           "n6-n1 HH, +n3-n1 FF");
  report.records[0].attempts[0].seconds = 0.5;
  report.records[1].attempts[1].status = 255;
  report.records[2].attempts[1].reason = "<bad> & \"worse\"";
  report.records[2].attempts[1].err = "a\xEF\xBF\xBD"
                                      "b\n";
  for (auto &attempt : report.records[5].attempts) {
    attempt.reason = "exchanged, then hung: no exit within 30 s";
  }
  report.findings = sweep::attribute(report.records, report.nodes);
  return report;
}

TEST(Reports, JsonHoldsEveryPairWithEachTry) {
  const auto report = sample();
  const auto json = nlohmann::json::parse(sweep::to_json(report).dump());
  EXPECT_EQ(json["pattern"], "ring");
  EXPECT_EQ(json["timeout"], 30);
  EXPECT_EQ(json["retries"], 1);
  EXPECT_EQ(json["complete"], true);
  EXPECT_EQ(json["passed"], false);
  ASSERT_EQ(json["pairs"].size(), 7U);
  const auto &first = json["pairs"][0];
  EXPECT_EQ(first["nodes"], nlohmann::json({"n1", "n2"}));
  EXPECT_EQ(first["passed"], true);
  EXPECT_EQ(first["verdict"], "passed");
  EXPECT_EQ(first["seconds"], 0.5);
  EXPECT_EQ(first["confirmation"], false);
  const auto &dead = json["pairs"][1];
  EXPECT_EQ(dead["status"], 255);
  EXPECT_EQ(dead["round"], 2);
  EXPECT_EQ(dead["reason"], "timed out after 30 s");
  ASSERT_EQ(dead["attempts"].size(), 2U);
  EXPECT_EQ(dead["attempts"][0]["verdict"], "failed");
  EXPECT_EQ(dead["attempts"][0]["round"], 1);
  EXPECT_EQ(json["pairs"][4]["verdict"], "flaky");
  EXPECT_EQ(json["pairs"][4]["passed"], false);
  EXPECT_EQ(json["pairs"][4]["reason"],
            "passed on try 2 of 2; timed out after 30 s");
  EXPECT_EQ(json["pairs"][5]["verdict"], "exchanged-then-hung");
  EXPECT_EQ(json["pairs"][6]["confirmation"], true);
  EXPECT_EQ(json["counts"]["passed"], 2);
  EXPECT_EQ(json["counts"]["failed"], 3);
  EXPECT_EQ(json["counts"]["flaky"], 1);
  EXPECT_EQ(json["counts"]["exchanged-then-hung"], 1);
  EXPECT_EQ(json["suspect_nodes"], nlohmann::json({"n3"}));
  EXPECT_EQ(json["suspect_links"], nlohmann::json::array());
  EXPECT_EQ(json["undetermined"], nlohmann::json::array());
  EXPECT_TRUE(json["global_fault"].is_null());

  sweep::Report clear;
  clear.pattern = "all";
  clear.records = records("n1-n2 P");
  EXPECT_EQ(sweep::to_json(clear)["passed"], true);
  clear.complete = false;
  EXPECT_EQ(sweep::to_json(clear)["passed"], false);
}

TEST(Reports, JunitHasATestCaseForEachPairWithItsVerdict) {
  auto report = sample();
  report.records.push_back(records("n9-n1 N")[0]);
  report.complete = false;
  pugi::xml_document document;
  ASSERT_TRUE(document.load_string(sweep::to_junit(report).c_str()));
  const auto suite = document.child("testsuites").child("testsuite");
  EXPECT_EQ(suite.attribute("tests").as_int(), 8);
  EXPECT_EQ(suite.attribute("failures").as_int(), 3);
  EXPECT_EQ(suite.attribute("skipped").as_int(), 1);
  std::vector<std::string> verdicts;
  for (const auto test : suite.children("testcase")) {
    verdicts.emplace_back(
        test.child("properties")
            .find_child_by_attribute("property", "name", "verdict")
            .attribute("value")
            .value());
  }
  EXPECT_EQ(verdicts, (std::vector<std::string>{
                          "passed", "failed", "failed", "passed", "flaky",
                          "exchanged-then-hung", "failed", "not-run"}));
  const auto first = suite.child("testcase");
  EXPECT_FALSE(first.child("failure"));
  EXPECT_DOUBLE_EQ(first.attribute("time").as_double(), 0.5);
  const auto odd = suite.find_child_by_attribute("testcase", "name", "n3-n4");
  EXPECT_STREQ(odd.child("failure").attribute("message").value(),
               "<bad> & \"worse\"");
  EXPECT_STREQ(odd.child("failure").text().get(), "a\xEF\xBF\xBD"
                                                  "b\n");
  const auto confirming =
      suite.find_child_by_attribute("testcase", "name", "n3-n1");
  EXPECT_STREQ(confirming.attribute("classname").value(),
               "exchange-sweep.confirmation");
  EXPECT_TRUE(suite.find_child_by_attribute("testcase", "name", "n9-n1")
                  .child("skipped"));
}

TEST(Reports, JunitFailsWhatTheSweepBlamesNotOnlyPairs) {
  struct Case {
    const char *what;
    sweep::Findings found;
    std::vector<std::string> failed; // the findings suite's failed cases
  };
  sweep::Findings named;
  named.suspect_nodes = {"n3"};
  named.suspect_links = {{"n1", "n2"}};
  named.suspect_uplinks = {"leaf2"};
  named.undetermined = {"n7"};
  sweep::Findings global;
  global.global_fault = "no pair passed";
  const Case cases[] = {
      {"suspects", named, {"leaf2", "n3", "n1-n2", "n7"}},
      {"a global fault", global, {"global fault"}},
      {"nothing", {}, {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    auto report = sample();
    report.findings = c.found;
    pugi::xml_document document;
    ASSERT_TRUE(document.load_string(sweep::to_junit(report).c_str()));
    const auto found = document.child("testsuites")
                           .find_child_by_attribute("testsuite", "name",
                                                    "exchange-sweep findings");
    ASSERT_TRUE(found);
    std::vector<std::string> failed;
    for (const auto test : found.children("testcase")) {
      if (test.child("failure")) {
        failed.emplace_back(test.attribute("name").value());
      }
    }
    EXPECT_EQ(failed, c.failed);
    EXPECT_EQ(found.attribute("failures").as_int(),
              static_cast<int>(c.failed.size()));
    // The totals count both suites.
    EXPECT_EQ(document.child("testsuites").attribute("failures").as_int(),
              3 + static_cast<int>(c.failed.size()));
  }
}

TEST(Reports, TableHasARowForEachPairThenWhatWasFound) {
  std::ostringstream out;
  sweep::write_table(out, sample());
  const std::string table = out.str();
  for (const char *row :
       {"PAIR   RESULT             TRIES  SECONDS  REASON\n",
        "n1-n2  passed                 1      0.5  \n",
        "n2-n3  failed                 2      0.0  timed out after 30 s\n",
        "confirmation pairs, each a failing node with a known-good partner:\n"
        "n3-n1  failed                 2",
        "\n7 pairs: 2 passed, 3 failed, 1 flaky, 1 exchanged-then-hung, 0 "
        "not-run\nsuspect nodes: n3\nsuspect links: none\nundetermined: "
        "none\n"}) {
    EXPECT_NE(table.find(row), std::string::npos) << row << "\n" << table;
  }
}

TEST(Reports, AGlobalFaultNamesNoOneAndAnInterruptionSaysSo) {
  sweep::Report report;
  report.pattern = "ring";
  report.nodes = 3;
  report.records = records("n1-n2 FF, n2-n3 FF, n3-n1 N");
  report.complete = false;
  report.signal = 2;
  report.findings = sweep::attribute(report.records, 3);
  std::ostringstream out;
  sweep::write_table(out, report);
  const std::string table = out.str();
  EXPECT_NE(table.find("incomplete: interrupted by SIGINT"), std::string::npos)
      << table;
  EXPECT_NE(table.find("global fault: no pair passed"), std::string::npos);
  EXPECT_NE(table.find("no node or link is named\n"), std::string::npos);
  EXPECT_EQ(table.find("suspect nodes"), std::string::npos) << table;
}

TEST(Reports, MeasuredFiguresInEveryReport) {
  sweep::Report report;
  report.pattern = "ring";
  report.nodes = 4;
  report.node_order = {"n1", "n2", "n3", "n4"};
  report.measured = true;
  report.records = records("n1-n2 P, n2-n3 SS, n3-n4 P, n4-n1 P");
  for (auto &record : report.records) {
    for (auto &attempt : record.attempts) {
      attempt.figures = sweep::Figures{7e-6, 2e9};
    }
  }
  report.records[1].attempts[1].figures = sweep::Figures{7e-6, 1.25e6};
  report.records[1].attempts[1].reason = "slow: bandwidth 1.2 MB/s";
  report.fabric[0] = {3, 7e-6, 2e9};
  report.findings = sweep::attribute(report.records, 4);
  const auto json = nlohmann::json::parse(sweep::to_json(report).dump());
  EXPECT_EQ(json["pairs"][1]["verdict"], "slow");
  EXPECT_EQ(json["pairs"][1]["attempts"][1]["bandwidth_bytes_per_s"], 1.25e6);
  EXPECT_EQ(json["pairs"][1]["attempts"][1]["latency_s"], 7e-6);
  EXPECT_EQ(json["fabric"]["all"]["bandwidth_bytes_per_s"], 2e9);
  EXPECT_EQ(json["slow_links"], nlohmann::json::parse(R"([["n2","n3"]])"));
  EXPECT_EQ(json["counts"]["slow"], 1);
  EXPECT_EQ(json["passed"], false);
  std::ostringstream table;
  sweep::write_table(table, report);
  EXPECT_NE(table.str().find("  LATENCY      BANDWIDTH  REASON"),
            std::string::npos)
      << table.str();
  EXPECT_NE(table.str().find("n2-n3  slow                   2      0.0      "
                             "7.0 us       1.2 MB/s  slow: bandwidth"),
            std::string::npos)
      << table.str();
  EXPECT_NE(table.str().find("\nfabric: 3 pairs, median latency 7.0 us, "
                             "bandwidth 2000.0 MB/s\n"),
            std::string::npos);
  EXPECT_NE(table.str().find("\nslow links: n2-n3\n"), std::string::npos);
  const std::string page = sweep::to_html(report);
  EXPECT_NE(page.find("class=\"heat\""), std::string::npos);
  EXPECT_NE(page.find("latency 7.0 us, bandwidth 1.2 MB/s"), std::string::npos);
}

TEST(Reports, ATableOfAllPairsOfAThousandNodesListsWhatDidNotPass) {
  sweep::Report report;
  report.pattern = "all";
  std::vector<std::string> nodes;
  for (int i = 1; i <= 1000; ++i) {
    nodes.push_back("n" + std::to_string(i));
  }
  report.nodes = nodes.size();
  std::string evidence;
  for (const auto &round : sweep::all_pairs(nodes)) {
    for (const auto &pair : round) {
      evidence += pair.first + "-" + pair.second +
                  (pair.first == "n7" || pair.second == "n7" ? " F, " : " P, ");
    }
  }
  evidence.resize(evidence.size() - 2);
  report.records = records(evidence);
  std::ostringstream table;
  sweep::write_table(table, report);
  std::size_t lines = 0;
  for (const char character : table.str()) {
    lines += character == '\n' ? 1 : 0;
  }
  EXPECT_LT(lines, 1020U); // 999 failed pairs, the rest summed up
  EXPECT_NE(table.str().find("498501 more pairs passed, not listed"),
            std::string::npos);
}

} // namespace

TEST(Reports, APairsReasonSaysWhichTryDidWhat) {
  auto list = records("a-b SP, a-b FS, a-b SF, a-b SS");
  for (auto &record : list) {
    for (auto &attempt : record.attempts) {
      if (attempt.verdict == sweep::Verdict::slow) {
        attempt.reason = "slow: bandwidth 1.2 MB/s";
      }
    }
  }
  const char *expected[] = {
      "fast on try 2 of 2; slow: bandwidth 1.2 MB/s",
      "slow on try 2 of 2; timed out after 30 s",
      "slow on try 1 of 2; timed out after 30 s",
      "slow: bandwidth 1.2 MB/s",
  };
  for (std::size_t i = 0; i < list.size(); ++i) {
    EXPECT_EQ(sweep::pair_reason(list[i]), expected[i]) << i;
  }
}
