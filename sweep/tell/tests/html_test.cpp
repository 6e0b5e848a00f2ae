#include "records.h"
#include "tell/report.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

namespace {

sweep::Report ring_report() {
  sweep::Report report;
  report.pattern = "ring";
  report.records = records("n1-n2 P, n2-n3 FF, n3-n4 FP, n4-n1 HH");
  report.records[1].attempts[1].reason = "<b>\"timed\" & out</b>";
  report.node_order = {"n1", "n2", "n3", "n4"};
  report.nodes = 4;
  report.topology = sweep::Topology::parse(
      "SwitchName=a Nodes=n[1-2]\nSwitchName=b Nodes=n[3-4]\n");
  report.findings.suspect_nodes = {"n3"};
  return report;
}

TEST(Page, ACellAPairEachWayWithItsVerdictAndReason) {
  const std::string page = sweep::to_html(ring_report());
  EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0U);
  pugi::xml_document document;
  ASSERT_TRUE(document.load_string(page.c_str())) << page;
  std::map<std::string, int> cells;
  for (const auto &found : document.select_nodes("//div[@data-pair]")) {
    const auto cell = found.node();
    ++cells[std::string(cell.attribute("data-pair").value()) + " " +
            cell.attribute("data-verdict").value()];
  }
  EXPECT_EQ(cells,
            (std::map<std::string, int>{{"n1-n2 passed", 2},
                                        {"n2-n3 failed", 2},
                                        {"n3-n4 flaky", 2},
                                        {"n4-n1 exchanged-then-hung", 2}}));
  const auto failed = document.select_node("//div[@data-pair='n2-n3']").node();
  EXPECT_STREQ(failed.attribute("title").value(),
               "n2-n3: failed, 2 tries, 0.0 s: <b>\"timed\" & out</b>");
  // Escaped, not markup: no element came from the reason.
  EXPECT_FALSE(document.select_node("//b"));
  EXPECT_TRUE(
      document.select_node("//div[@class='node suspect' and text()='n3']"));
  EXPECT_TRUE(document.select_node("//div[@class='switch' and text()='b']"));
}

TEST(Page, ThousandsOfNodesStaySmall) {
  sweep::Report report;
  report.pattern = "all";
  const std::size_t count = 600;
  for (std::size_t i = 0; i < count; ++i) {
    report.node_order.push_back("node" + std::to_string(i));
  }
  for (std::size_t i = 0; i < count; ++i) {
    for (std::size_t j = i + 1; j < count; ++j) {
      sweep::PairRecord record{{report.node_order[i], report.node_order[j]},
                               false,
                               {sweep::Attempt{}}};
      record.attempts[0].verdict =
          i == 7 || j == 7 ? sweep::Verdict::failed : sweep::Verdict::passed;
      report.records.push_back(record);
    }
  }
  report.nodes = count;
  const std::string page = sweep::to_html(report);
  EXPECT_LT(page.size(), 8U << 20) << page.size();
  pugi::xml_document document;
  ASSERT_TRUE(document.load_string(page.c_str()));
  const auto cells = document.select_nodes("//div[@data-verdict]");
  EXPECT_LE(cells.size(), 150U * 150U);
  // The block that holds node7 still shows its failure.
  EXPECT_TRUE(document.select_node("//div[@data-verdict='failed']"));
}

} // namespace
