#include "act/flavour.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using sweep::Launch;
using sweep::Launcher;
using sweep::Mpi;

TEST(Flavour, EachPairsJobIsOneRankOnEachNodeBoundedByItsLauncher) {
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

} // namespace
