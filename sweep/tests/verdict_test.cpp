#include "report.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <sstream>

namespace {

using sweep::Outcome;
using sweep::Pair;
using sweep::Result;
using sweep::Verdict;

const std::string sent = " process 0 : 777 has to sent to: 1\n";
const std::string received = " process 1 : 777 has been received from: 0\n";

TEST(Judge, VerdictAndReasonFromHowTheJobEnded) {
  struct Case {
    const char *what;
    Outcome outcome;
    Verdict verdict;
    std::string reason;
  };
  const Case cases[] = {
      {"the two lines",
       {0, false, 0.4, sent + received, ""},
       Verdict::passed,
       ""},
      {"either order",
       {0, false, 0.4, received + sent, ""},
       Verdict::passed,
       ""},
      {"lone processes",
       {0, false, 0.2, "needs 2 processors \nneeds 2 processors \n", ""},
       Verdict::failed,
       "each process ran alone (\"needs 2 processors\"): the launcher is not "
       "of the program's MPI"},
      {"a line more",
       {0, false, 0.4, sent + received + "hello\n", ""},
       Verdict::failed,
       "unexpected output:  process 0 : 777 has to sent to: 1"},
      {"only one line",
       {0, false, 0.4, sent, ""},
       Verdict::failed,
       "unexpected output:  process 0 : 777 has to sent to: 1"},
      {"stderr says why",
       {255, false, 2.1, "",
        "---------\n\nUCX ERROR no usable devices\nmore\n"},
       Verdict::failed,
       "UCX ERROR no usable devices"},
      {"status only",
       {143, false, 2.1, sent, ""},
       Verdict::failed,
       "status 143"},
      {"timed out",
       {255, true, 30.2, "", "APPLICATION TIMED OUT\n"},
       Verdict::failed,
       "timed out after 30 s"},
      {"exchanged, then hung",
       {137, true, 40, received + sent, ""},
       Verdict::exchanged_then_hung,
       "exchanged, then hung: no exit within 30 s"},
      {"one line, then hung",
       {137, true, 40, sent, ""},
       Verdict::failed,
       "timed out after 30 s"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const Result result = sweep::judge({"a", "b"}, c.outcome, 30);
    EXPECT_EQ(result.verdict, c.verdict);
    EXPECT_EQ(result.reason, c.reason);
    EXPECT_EQ(result.status, c.outcome.status);
    EXPECT_DOUBLE_EQ(result.seconds, c.outcome.seconds);
  }
}

// Results from "a-b P, b-c F, ...": each pair and its verdict.
std::vector<Result> results_of(
    const std::vector<std::tuple<std::string, std::string, char>> &pairs) {
  std::vector<Result> results;
  for (const auto &[a, b, v] : pairs) {
    Result result;
    result.pair = {a, b};
    result.verdict = v == 'P'   ? Verdict::passed
                     : v == 'H' ? Verdict::exchanged_then_hung
                                : Verdict::failed;
    results.push_back(result);
  }
  return results;
}

TEST(Suspects, NodesAndLinksThatTheFailuresPointAt) {
  struct Case {
    const char *what;
    std::vector<std::tuple<std::string, std::string, char>> pairs;
    std::vector<std::string> nodes;
    std::vector<std::string> links;
  };
  const Case cases[] = {
      {"a dead node in a ring",
       {{"n1", "n2", 'P'},
        {"n2", "n3", 'F'},
        {"n3", "n4", 'F'},
        {"n4", "n1", 'P'}},
       {"n3"},
       {}},
      {"a dead link in a ring",
       {{"n1", "n2", 'F'},
        {"n2", "n3", 'P'},
        {"n3", "n4", 'P'},
        {"n4", "n1", 'P'}},
       {},
       {"n1-n2"}},
      {"everything failed: nothing to tell a node from the launcher",
       {{"n1", "n2", 'F'}, {"n2", "n3", 'F'}, {"n3", "n1", 'F'}},
       {},
       {}},
      {"two nodes, failed", {{"n1", "n2", 'F'}}, {}, {}},
      {"a hang is no evidence against a link",
       {{"n1", "n2", 'H'},
        {"n2", "n3", 'P'},
        {"n3", "n4", 'P'},
        {"n4", "n1", 'P'}},
       {},
       {}},
      {"a hang is no evidence for a node either",
       {{"n1", "n2", 'P'},
        {"n2", "n3", 'H'},
        {"n3", "n4", 'F'},
        {"n4", "n1", 'P'}},
       {"n3"},
       {}},
      {"a node that passed once is not suspect",
       {{"n1", "n2", 'P'},
        {"n1", "n3", 'F'},
        {"n2", "n3", 'P'},
        {"n1", "n4", 'F'},
        {"n2", "n4", 'P'},
        {"n3", "n4", 'P'}},
       {},
       {"n1-n3", "n1-n4"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const auto suspects = sweep::find_suspects(results_of(c.pairs));
    EXPECT_EQ(suspects.nodes, c.nodes);
    std::vector<std::string> links;
    for (const auto &link : suspects.links) {
      links.push_back(sweep::pair_name(link));
    }
    EXPECT_EQ(links, c.links);
  }
}

std::vector<Result> sample() {
  auto results = results_of({{"n1", "n2", 'P'},
                             {"n2", "n3", 'F'},
                             {"n3", "n4", 'F'},
                             {"n4", "n1", 'H'}});
  results[0].seconds = 0.5;
  results[3].round = 2;
  results[1].reason = "timed out after 30 s";
  results[1].status = 255;
  results[2].reason = "<bad> & \"worse\"";
  results[2].err = "a\x01"
                   "b\xff\n";
  results[3].reason = "exchanged, then hung: no exit within 30 s";
  return results;
}

TEST(Reports, JsonHoldsEveryPairOnceWithItsVerdict) {
  const auto results = sample();
  const auto json = nlohmann::json::parse(
      sweep::to_json("ring", 30, results, sweep::find_suspects(results))
          .dump());
  EXPECT_EQ(json["pattern"], "ring");
  EXPECT_EQ(json["timeout"], 30);
  EXPECT_EQ(json["passed"], false);
  ASSERT_EQ(json["pairs"].size(), 4U);
  EXPECT_EQ(json["pairs"][0]["nodes"], nlohmann::json({"n1", "n2"}));
  EXPECT_EQ(json["pairs"][0]["passed"], true);
  EXPECT_EQ(json["pairs"][0]["verdict"], "passed");
  EXPECT_EQ(json["pairs"][0]["seconds"], 0.5);
  EXPECT_EQ(json["pairs"][1]["status"], 255);
  EXPECT_EQ(json["pairs"][1]["reason"], "timed out after 30 s");
  EXPECT_EQ(json["pairs"][3]["verdict"], "exchanged-then-hung");
  EXPECT_EQ(json["pairs"][3]["round"], 2);
  EXPECT_EQ(json["pairs"][3]["passed"], false);
  EXPECT_EQ(json["suspect_nodes"], nlohmann::json({"n3"}));
  EXPECT_EQ(json["suspect_links"], nlohmann::json::array());

  auto good = results_of({{"n1", "n2", 'P'}});
  EXPECT_EQ(sweep::to_json("all", 2.5, good, {})["passed"], true);
}

TEST(Reports, JunitHasATestCaseForEachPairFailedWithItsReason) {
  pugi::xml_document document;
  ASSERT_TRUE(document.load_string(sweep::to_junit("ring", sample()).c_str()));
  const auto suite = document.child("testsuites").child("testsuite");
  EXPECT_EQ(suite.attribute("tests").as_int(), 4);
  EXPECT_EQ(suite.attribute("failures").as_int(), 3);
  std::vector<std::string> names;
  for (const auto test : suite.children("testcase")) {
    names.emplace_back(test.attribute("name").value());
  }
  EXPECT_EQ(names,
            (std::vector<std::string>{"n1-n2", "n2-n3", "n3-n4", "n4-n1"}));
  const auto first = suite.child("testcase");
  EXPECT_FALSE(first.child("failure"));
  EXPECT_DOUBLE_EQ(first.attribute("time").as_double(), 0.5);
  const auto odd = suite.find_child_by_attribute("testcase", "name", "n3-n4");
  EXPECT_STREQ(odd.child("failure").attribute("message").value(),
               "<bad> & \"worse\"");
  // Bytes that XML cannot carry are replaced.
  EXPECT_STREQ(odd.child("failure").text().get(), "a?b?\n");
  const auto hung = suite.find_child_by_attribute("testcase", "name", "n4-n1");
  EXPECT_STREQ(hung.child("failure").attribute("type").value(),
               "exchanged-then-hung");
}

TEST(Reports, TableHasARowForEachPairThenTheSuspects) {
  const auto results = sample();
  std::ostringstream out;
  sweep::write_table(out, results, sweep::find_suspects(results));
  const std::string table = out.str();
  EXPECT_NE(table.find("n1-n2  passed                  0.5"), std::string::npos)
      << table;
  EXPECT_NE(
      table.find("n2-n3  failed                  0.0  timed out after 30 s"),
      std::string::npos)
      << table;
  EXPECT_NE(table.find("suspect nodes: n3\nsuspect links: none\n"),
            std::string::npos)
      << table;
}

} // namespace
