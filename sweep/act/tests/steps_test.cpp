#include "act/steps.h"

#include <gtest/gtest.h>

namespace {

TEST(Steps, OnlyTheSweepsOwnStepsByTheirExactName) {
  const sweep::OwnJob job{"42", ""};
  const std::string listing = "42.batch exchange-sweep.7.1\n"
                              "42.extern extern\n"
                              "42.0 exchange-sweep.7.1\n"
                              "42.1 exchange-sweep.7.2\n"
                              "420.3 exchange-sweep.7.3\n"
                              "43.0 exchange-sweep.7.3\n"
                              "42.2 exchange-sweep.7.33\n"
                              "42.x exchange-sweep.7.4\n"
                              "42.5 someone-elses\n"
                              "42.6 exchange-sweep.7.5\n"
                              "42.7 exchange-sweep.7.5\n";
  EXPECT_EQ(
      sweep::steps_to_cancel(listing, job,
                             {"exchange-sweep.7.1", "exchange-sweep.7.3",
                              "exchange-sweep.7.4", "exchange-sweep.7.5"}),
      (std::map<std::string, std::string>{{"exchange-sweep.7.1", "42.0"}}));
  EXPECT_TRUE(sweep::steps_to_cancel(listing, job, {}).empty());
  EXPECT_TRUE(sweep::steps_to_cancel(listing, {"", ""}, {"exchange-sweep.7.1"})
                  .empty());
  // An array task's steps, as squeue shows them; and padding.
  EXPECT_EQ(
      sweep::steps_to_cancel("40_3.1 exchange-sweep.7.1   \n", {"42", "40_3"},
                             {"exchange-sweep.7.1"}),
      (std::map<std::string, std::string>{{"exchange-sweep.7.1", "40_3.1"}}));
}

TEST(Steps, NamesNoOtherSweepCanHave) {
  const std::string prefix = sweep::step_prefix();
  ASSERT_EQ(prefix.size(), std::string("exchange-sweep.").size() + 17);
  EXPECT_EQ(prefix.rfind("exchange-sweep.", 0), 0U);
  EXPECT_EQ(prefix.find_first_not_of("0123456789abcdef", 15), 31U);
  EXPECT_EQ(prefix.back(), '.');
  EXPECT_EQ(sweep::step_prefix(), prefix); // one sweep, one prefix
  // A name squeue shows twice is no one's, and is said to be.
  std::set<std::string> twice;
  EXPECT_TRUE(
      sweep::steps_to_cancel("42.1 a\n42.2 a\n", {"42", ""}, {"a"}, &twice)
          .empty());
  EXPECT_EQ(twice, std::set<std::string>{"a"});
}

TEST(Steps, TheCommandsNameTheJobAndTheIds) {
  EXPECT_EQ(sweep::list_steps_command({"42", ""}),
            (std::vector<std::string>{"squeue", "--noheader", "--steps",
                                      "--jobs=42", "--format=%i %j"}));
  EXPECT_EQ(sweep::cancel_command({"42.0", "42.3"}),
            (std::vector<std::string>{"scancel", "--quiet", "42.0", "42.3"}));
}

} // namespace
