#include "given/hosts.h"
#include "given/options.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

sweep::Parsed parse(std::vector<const char *> args,
                    const std::string &default_program = "") {
  args.insert(args.begin(), "exchange-sweep");
  return sweep::parse_options(static_cast<int>(args.size()), args.data(),
                              default_program);
}

TEST(Options, BadUsageIsOneLineAndStatus2) {
  const std::vector<std::vector<const char *>> cases = {
      {"--pattern", "star", "x"},
      {"--timeout", "0", "x"},
      {"--timeout", "-5", "x"},
      {"--timeout", "soon", "x"},
      {"--timeout", "inf", "x"},
      {"--timeout", "nan", "x"},
      {"--hosts", "a,b", "--hostfile", "f", "x"},
      {"--mpi", "lam", "x"},
      {"--hosts", " , ", "x"},
      {"--frobnicate", "x"},
      {"--hosts", "a,b"},
      {"x", "y"},
      {"--retries", "-1", "x"},
      {"--retries", "11", "x"},
      {"--retries", "one", "x"},
      // Every number within a range that nothing computed from it can
      // overflow.
      {"--timeout", "1e10", "x"},
      {"--timeout", "1e400", "x"},
      {"--timeout", "86400.5", "x"},
      {"--parallel", "0", "x"},
      {"--parallel", "100001", "x"},
      {"--parallel", "18446744073709551617", "x"},
      {"--parallel", "-1", "x"},
      {"--parallel", "2.5", "x"},
      {"--drain-max", "0", "x"},
      {"--worst-case", "1", "x"},
      {"--worst-case", "1e6", "x"},
  };
  for (const auto &args : cases) {
    const auto parsed = parse(args);
    SCOPED_TRACE(parsed.message);
    EXPECT_FALSE(parsed.options);
    EXPECT_EQ(parsed.status, 2);
    EXPECT_EQ(parsed.message.rfind("exchange-sweep: ", 0), 0U);
    EXPECT_EQ(parsed.message.find('\n'), std::string::npos);
  }
}

TEST(Options, TakesWhatIsGiven) {
  const auto parsed =
      parse({"--pattern", "all", "--timeout", "2.5", "--json", "r.json",
             "--junit", "r.xml", "--mpi", "openmpi", "--hosts", "a, b,c", "p"});
  ASSERT_TRUE(parsed.options) << parsed.message;
  const auto &options = *parsed.options;
  EXPECT_EQ(options.pattern, "all");
  EXPECT_DOUBLE_EQ(options.timeout, 2.5);
  EXPECT_EQ(options.json, "r.json");
  EXPECT_EQ(options.junit, "r.xml");
  EXPECT_EQ(options.mpi, sweep::Mpi::openmpi);
  EXPECT_EQ(options.hosts, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(options.program, "p");
}

TEST(Options, DefaultsAndTheDefaultProgram) {
  const auto parsed = parse({}, "/usr/bin/exchange.mpich");
  ASSERT_TRUE(parsed.options) << parsed.message;
  EXPECT_EQ(parsed.options->pattern, "ring");
  EXPECT_DOUBLE_EQ(parsed.options->timeout, 30);
  EXPECT_FALSE(parsed.options->mpi);
  EXPECT_EQ(parsed.options->retries, 1);
  EXPECT_EQ(parsed.options->program, "/usr/bin/exchange.mpich");
  EXPECT_EQ(parse({"--help"}).status, 0);
}

TEST(Options, TheEdgesOfEachRangeAreTaken) {
  const auto parsed =
      parse({"--timeout", "86400", "--parallel", "100000", "--retries", "0",
             "--drain-max", "1", "--worst-case", "1000000", "--verbose",
             "--topology", "none", "x"});
  ASSERT_TRUE(parsed.options) << parsed.message;
  EXPECT_DOUBLE_EQ(parsed.options->timeout, 86400);
  EXPECT_EQ(parsed.options->parallel, 100000U);
  EXPECT_EQ(parsed.options->worst_case, 1000000U);
  EXPECT_TRUE(parsed.options->verbose);
  EXPECT_EQ(parsed.options->topology, "none");
}

TEST(Nodes, OneHostOneEntryWhateverItsCase) {
  std::vector<std::string> dropped;
  EXPECT_EQ(
      sweep::unique_hosts(
          {"node1", "NODE1", "node2", "Node2", "node1", "node3"}, dropped),
      (std::vector<std::string>{"node1", "node2", "node3"}));
  EXPECT_EQ(dropped, (std::vector<std::string>{"NODE1", "Node2", "node1"}));
}

TEST(Nodes, HostFilesOfEitherLauncher) {
  std::istringstream in(
      "# the nodes\nn1\n  n2 slots=4\nn3:2  # fast\n\n\tn4\nn5.x_y-1");
  std::string problem;
  EXPECT_EQ(sweep::read_hostfile(in, problem),
            (std::vector<std::string>{"n1", "n2", "n3", "n4", "n5.x_y-1"}));
  EXPECT_EQ(problem, "");
}

TEST(Nodes, WhatIsNoHostNameIsRefusedWithItsLine) {
  const std::pair<std::string, const char *> files[] = {
      {"n1\n-oProxyCommand=touch /tmp/x\n", "line 2: '-oProxyCommand=touch'"},
      {"n1\nn$(id)\n", "line 2: 'n$(id)' is not a host name"},
      {"n1;rm\n", "line 1: 'n1;rm'"},
      {std::string("n1\nn2\0evil\n", 11), "line 2: "},
      {"n1\n" + std::string(300, 'a') + "\n", "line 2: '"},
      {"n1\n" + std::string(5000, 'a') + "\n", "line 2 is longer than 4096"},
      {"n1\n\x1b]0;title\x07\n", "line 2: '\xEF\xBF\xBD]0;title\xEF\xBF\xBD'"},
  };
  for (const auto &[text, said] : files) {
    SCOPED_TRACE(said);
    std::istringstream in(text);
    std::string problem;
    EXPECT_TRUE(sweep::read_hostfile(in, problem).empty());
    EXPECT_EQ(problem.rfind(said, 0), 0U) << problem;
    EXPECT_EQ(problem.find('\x1b'), std::string::npos);
  }
  EXPECT_EQ(sweep::host_name_problem("node-01.example_x"), "");
  EXPECT_NE(sweep::host_name_problem(std::string(254, 'a')), "");
  EXPECT_EQ(sweep::host_name_problem(std::string(253, 'a')), "");
  EXPECT_NE(sweep::host_name_problem(""), "");
  EXPECT_NE(sweep::host_name_problem("a b"), "");
}

TEST(Nodes, ProgramsMpiIsReadOffItsLibraries) {
  EXPECT_EQ(sweep::linked_mpi(EXCHANGE_PATH),
            EXCHANGE_IS_OPENMPI ? sweep::Mpi::openmpi : sweep::Mpi::mpich);
  // Not ELF, and no such file.
  EXPECT_FALSE(sweep::linked_mpi(__FILE__));
  EXPECT_FALSE(sweep::linked_mpi("/nonexistent/exchange"));
  // ELF, but linked against no MPI.
  EXPECT_FALSE(sweep::linked_mpi("/bin/sh"));
}

} // namespace
