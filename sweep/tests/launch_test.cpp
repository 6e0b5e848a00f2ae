#include "launch.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using sweep::Launch;
using sweep::Launcher;
using sweep::Mpi;

TEST(Launch, EachPairsJobIsOneRankOnEachNodeBoundedByItsLauncher) {
  Launch launch;
  launch.program = "/opt/exchange";
  launch.timeout = 30;
  EXPECT_EQ(sweep::job_command(launch, {"a", "b"}, "s"),
            (std::vector<std::string>{"mpiexec.mpich", "-hosts", "a,b", "-ppn",
                                      "1", "-n", "2", "/opt/exchange"}));
  // Hydra counts its bound in whole seconds of the clock: one more.
  EXPECT_EQ(sweep::added_environment(launch),
            (std::vector<std::string>{"MPIEXEC_TIMEOUT=31"}));
  launch.timeout = 2.5;
  EXPECT_EQ(sweep::added_environment(launch),
            (std::vector<std::string>{"MPIEXEC_TIMEOUT=4"}));
  EXPECT_TRUE(sweep::removed_environment(launch).empty());

  launch.mpi = Mpi::openmpi;
  const auto openmpi = sweep::job_command(launch, {"a", "b"}, "s");
  EXPECT_EQ(openmpi.front(), "mpiexec.openmpi");
  EXPECT_NE(std::find(openmpi.begin(), openmpi.end(), "--timeout"),
            openmpi.end());
  EXPECT_TRUE(sweep::added_environment(launch).empty());

  launch.launcher = Launcher::srun;
  launch.timeout = 90;
  const auto srun =
      sweep::job_command(launch, {"a", "b"}, "exchange-sweep.1.2");
  for (const char *word :
       {"srun", "--mpi=pmix", "--nodes=2", "--ntasks=2", "--nodelist=a,b",
        "--job-name=exchange-sweep.1.2", "--time=3", "/opt/exchange"}) {
    EXPECT_NE(std::find(srun.begin(), srun.end(), word), srun.end()) << word;
  }
  // Each step is its own job to Slurm's PMIx plugin, whose fences are
  // rings unless the site says otherwise.
  EXPECT_EQ(sweep::removed_environment(launch),
            (std::vector<std::string>{"SLURM_JOB_NODELIST", "SLURM_NODELIST"}));
  unsetenv("SLURM_PMIX_FENCE");
  EXPECT_EQ(sweep::added_environment(launch),
            (std::vector<std::string>{"SLURM_PMIX_FENCE=ring"}));
  setenv("SLURM_PMIX_FENCE", "tree", 1);
  EXPECT_TRUE(sweep::added_environment(launch).empty());
  unsetenv("SLURM_PMIX_FENCE");
  launch.mpi = Mpi::mpich;
  EXPECT_TRUE(sweep::added_environment(launch).empty());
}

TEST(Launch, AnEnvironmentLessWhatIsRemovedWithWhatIsAdded) {
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

} // namespace
