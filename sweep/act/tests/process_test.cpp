#include "act/log.h"
#include "act/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

TEST(Process, AnEnvironmentLessWhatIsRemovedWithWhatIsAdded) {
  setenv("SWEEP_TEST_KEPT", "1", 1);
  setenv("SWEEP_TEST_GONE", "1", 1);
  setenv("SWEEP_TEST_SET", "old", 1);
  const sweep::Environment environment({"SWEEP_TEST_SET=new"},
                                       {"SWEEP_TEST_GONE"});
  std::vector<std::string> entries;
  for (char *const *entry = environment.get(); *entry != nullptr; ++entry) {
    entries.emplace_back(*entry);
  }
  const auto has = [&](const char *entry) {
    return std::find(entries.begin(), entries.end(), entry) != entries.end();
  };
  EXPECT_TRUE(has("SWEEP_TEST_KEPT=1"));
  EXPECT_TRUE(has("SWEEP_TEST_SET=new"));
  EXPECT_FALSE(has("SWEEP_TEST_SET=old"));
  EXPECT_FALSE(has("SWEEP_TEST_GONE=1"));
}

TEST(Process, ACaptureIsBoundedInTimeAndKeepsWhatItSaid) {
  const auto said = sweep::capture({"sh", "-c", "echo $SWEEP_TEST_SAID"}, 5,
                                   sweep::Keep::some, {"SWEEP_TEST_SAID=hi"});
  EXPECT_EQ(said.status, 0);
  EXPECT_EQ(said.out, "hi\n");
  const auto slow = sweep::capture({"sleep", "30"}, 0.3);
  EXPECT_EQ(slow.status, 128 + 9);
  const auto missing = sweep::capture({"/nonexistent/program"}, 5);
  EXPECT_EQ(missing.status, -1);
}

TEST(Log, CommandLinesAreQuotedAsAShellReadsThemBack) {
  EXPECT_EQ(sweep::quoted({"srun", "--nodelist=n1,n2", "/opt/x"}),
            "srun --nodelist=n1,n2 /opt/x");
  EXPECT_EQ(sweep::quoted({"a b", "it's", "", "$(id)"}),
            "'a b' 'it'\\''s' '' '$(id)'");
  EXPECT_EQ(sweep::quoted({"esc\x1b[2J"}), "'esc\xEF\xBF\xBD[2J'");
}

} // namespace
