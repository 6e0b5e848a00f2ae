#include "decide/verdict.h"

#include <gtest/gtest.h>

namespace {

using sweep::Attempt;
using sweep::Outcome;
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
       {0, false, false, 0.4, sent + received, ""},
       Verdict::passed,
       ""},
      {"either order",
       {0, false, false, 0.4, received + sent, ""},
       Verdict::passed,
       ""},
      {"lone processes",
       {0, false, false, 0.2, "needs 2 processors \nneeds 2 processors \n", ""},
       Verdict::failed,
       "each process ran alone (\"needs 2 processors\"): the launcher is not "
       "of the program's MPI"},
      {"a line more",
       {0, false, false, 0.4, sent + received + "hello\n", ""},
       Verdict::failed,
       "unexpected output:  process 0 : 777 has to sent to: 1"},
      {"only one line",
       {0, false, false, 0.4, sent, ""},
       Verdict::failed,
       "unexpected output:  process 0 : 777 has to sent to: 1"},
      {"stderr says why",
       {255, false, false, 2.1, "",
        "---------\n\nUCX ERROR no usable devices\nmore\n"},
       Verdict::failed,
       "UCX ERROR no usable devices"},
      {"status only",
       {143, false, false, 2.1, sent, ""},
       Verdict::failed,
       "status 143"},
      {"timed out",
       {255, true, false, 30.2, "", "APPLICATION TIMED OUT\n"},
       Verdict::failed,
       "timed out after 30 s"},
      {"exchanged, then hung",
       {137, true, false, 40, received + sent, ""},
       Verdict::exchanged_then_hung,
       "exchanged, then hung: no exit within 30 s"},
      {"one line, then hung",
       {137, true, false, 40, sent, ""},
       Verdict::failed,
       "timed out after 30 s"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const Attempt attempt = sweep::judge(c.outcome, 30);
    EXPECT_EQ(attempt.verdict, c.verdict);
    EXPECT_EQ(attempt.reason, c.reason);
    EXPECT_EQ(attempt.status, c.outcome.status);
    EXPECT_DOUBLE_EQ(attempt.seconds, c.outcome.seconds);
  }
}

// Outcome{status, timed_out, cut_short, seconds, out, err, dropped}
TEST(Judge, WhatTheSweepItselfCutOrLost) {
  const Attempt cut = sweep::judge({143, false, true, 3, sent, "", 0}, 30);
  EXPECT_EQ(cut.verdict, Verdict::not_run);
  // The bound had passed before the sweep was stopped: a failure still.
  const Attempt late = sweep::judge({143, true, true, 31, "", "", 0}, 30);
  EXPECT_EQ(late.verdict, Verdict::failed);
  const Attempt lost =
      sweep::judge({-1, false, false, 0.4, sent + received, "", 0}, 30);
  EXPECT_EQ(lost.verdict, Verdict::failed);
  EXPECT_EQ(lost.reason, "its exit status was lost");
  // The two lines, then a flood that was dropped: not a pass.
  const Attempt flood =
      sweep::judge({0, false, false, 2, sent + received, "", 512}, 30);
  EXPECT_EQ(flood.verdict, Verdict::failed);
  // What a job said is made safe, and its reason is one short line.
  const Attempt hostile = sweep::judge({1, false, false, 1, "",
                                        "\x1b[2J\xe9"
                                        "chec\r" +
                                            std::string(500, 'x'),
                                        0},
                                       30);
  EXPECT_EQ(hostile.reason.find('\x1b'), std::string::npos);
  EXPECT_EQ(hostile.reason.find('\r'), std::string::npos);
  EXPECT_EQ(hostile.reason.rfind("\xEF\xBF\xBD[2J\xEF\xBF\xBD"
                                 "chec",
                                 0),
            0U);
  EXPECT_LE(hostile.reason.size(), 210U); // 200 code points, two of 3 bytes
}

// A pair's tries "PF..." (passed, failed, exchanged-then-hung, not-run,
// slow, and h: hung after a slow measure).
sweep::PairRecord tried(const std::string &tries) {
  sweep::PairRecord record{{"a", "b"}, false, {}};
  for (const char verdict : tries) {
    Attempt attempt;
    attempt.verdict = verdict == 'P' ? Verdict::passed
                      : verdict == 'H' || verdict == 'h'
                          ? Verdict::exchanged_then_hung
                      : verdict == 'N' ? Verdict::not_run
                      : verdict == 'S' ? Verdict::slow
                                       : Verdict::failed;
    attempt.hung_slow = verdict == 'h';
    record.attempts.push_back(attempt);
  }
  return record;
}

TEST(Judge, WhatAPairsTriesComeTo) {
  const std::pair<const char *, Verdict> cases[] = {
      {"P", Verdict::passed},
      {"F", Verdict::failed},
      {"FF", Verdict::failed},
      {"FP", Verdict::flaky},
      {"HP", Verdict::flaky},
      {"PF", Verdict::flaky},
      {"H", Verdict::exchanged_then_hung},
      {"FH", Verdict::exchanged_then_hung},
      {"", Verdict::not_run},
      {"N", Verdict::not_run},
      {"FN", Verdict::failed},
      {"PN", Verdict::passed},
      // Slow: measured slow on every try that ran; one slow measure beside a
      // try that failed or hung is no slow verdict, unless the hung try
      // measured slow before it hung.
      {"SS", Verdict::slow},
      {"SN", Verdict::slow},
      {"SP", Verdict::passed},
      {"FS", Verdict::flaky},
      {"SH", Verdict::flaky},
      {"HS", Verdict::flaky},
      {"Sh", Verdict::slow},
      {"hS", Verdict::slow},
      {"hh", Verdict::slow},
      {"hH", Verdict::flaky},
      {"hF", Verdict::flaky},
      {"hP", Verdict::flaky},
  };
  for (const auto &[tries, verdict] : cases) {
    SCOPED_TRACE(tries);
    EXPECT_EQ(sweep::final_verdict(tried(tries)), verdict);
  }
}

TEST(Judge, TheProbesTwoLinesWithTheirFigures) {
  const auto line = [](int rank, const char *latency, const char *bandwidth,
                       const char *value = "777") {
    return "exchange-probe rank=" + std::to_string(rank) +
           " partner=" + std::to_string(1 - rank) + " value=" + value +
           " latency_s=" + latency + " bandwidth_bytes_per_s=" + bandwidth +
           " bytes=1 seconds=1\n";
  };
  const std::string both = line(1, "7e-06", "2e9") + line(0, "7e-06", "1.5e9");
  const Attempt passed = sweep::judge({0, false, false, 1, both, ""}, 30, true);
  EXPECT_EQ(passed.verdict, Verdict::passed);
  ASSERT_TRUE(passed.figures);
  EXPECT_DOUBLE_EQ(passed.figures->latency_s, 7e-06);
  EXPECT_DOUBLE_EQ(passed.figures->bandwidth, 1.5e9); // the slower way
  const std::pair<const char *, std::string> failed[] = {
      {"one rank's line", line(0, "7e-06", "1e9")},
      {"rank 0 twice", line(0, "7e-06", "1e9") + line(0, "7e-06", "1e9")},
      {"another value", line(0, "7e-06", "1e9") + line(1, "7e-06", "1e9", "0")},
      {"exchange's lines", sent + received},
      {"a line more", both + "hello\n"},
  };
  for (const auto &[what, out] : failed) {
    SCOPED_TRACE(what);
    const Attempt attempt =
        sweep::judge({0, false, false, 1, out, ""}, 30, true);
    EXPECT_EQ(attempt.verdict, Verdict::failed);
    EXPECT_FALSE(attempt.figures);
  }
  // Both lines, then no end: the message crossed, and was measured.
  const Attempt hung = sweep::judge({137, true, false, 31, both, ""}, 30, true);
  EXPECT_EQ(hung.verdict, Verdict::exchanged_then_hung);
  ASSERT_TRUE(hung.figures);
  EXPECT_DOUBLE_EQ(hung.figures->bandwidth, 1.5e9);
}

} // namespace
