#include "records.h"
#include "tell/deliver.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

TEST(Deliver, EachReportStandsAlone) {
  const fs::path dir = fs::path(::testing::TempDir()) / "deliver";
  fs::remove_all(dir);
  fs::create_directories(dir / "gone");
  sweep::Report report;
  report.pattern = "ring";
  report.nodes = 2;
  report.node_order = {"n1", "n2"};
  report.records = records("n1-n2 P");
  sweep::ReportFiles files;
  files.json = sweep::OutputFile((dir / "gone" / "sweep.json").string());
  files.junit = sweep::OutputFile((dir / "sweep.xml").string());
  files.html = sweep::OutputFile((dir / "sweep.html").string());
  // The JSON's folder goes during the sweep; standard output is full.
  fs::remove_all(dir / "gone");
  const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  const auto lost = sweep::deliver(report, files, full);
  close(full);
  ASSERT_EQ(lost.size(), 2U);
  EXPECT_EQ(lost[0], "the table: cannot write standard output: No space "
                     "left on device");
  EXPECT_NE(lost[1].find("gone/sweep.json: No such file or directory"),
            std::string::npos)
      << lost[1];
  EXPECT_GT(fs::file_size(dir / "sweep.xml"), 0U);
  EXPECT_GT(fs::file_size(dir / "sweep.html"), 0U);
  fs::remove_all(dir);
}

} // namespace
