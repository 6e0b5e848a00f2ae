#include "act/mesh.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

bool has(const std::vector<std::string> &words, const std::string &word) {
  return std::find(words.begin(), words.end(), word) != words.end();
}

TEST(Mesh, OneJobOfEveryNodeBoundedByItsSchedule) {
  sweep::MeshPlan plan;
  plan.program = "/opt/exchange-mesh";
  plan.all = true;
  plan.pair_bound = 4;
  plan.start_allowance = 10;
  // Its launch (10 s and a second a hundred ranks), the ranks' starts, 15
  // rounds' marks, the last leaving.
  EXPECT_DOUBLE_EQ(sweep::mesh_bound(plan, 16), 10.16 + 20 + 15 * 4.5);
  EXPECT_DOUBLE_EQ(sweep::mesh_pair_bound(30, true, 0.2), 4);
  EXPECT_DOUBLE_EQ(sweep::mesh_pair_bound(3, true, 0.2), 3);
  EXPECT_DOUBLE_EQ(sweep::mesh_pair_bound(30, false, 0.2), 2);
  sweep::Launch launch;
  launch.launcher = sweep::Launcher::srun;
  const auto srun = sweep::mesh_command(launch, plan, {16, "/tmp/h", "s.mesh"});
  for (const char *word :
       {"srun", "--mpi=pmi2", "--ntasks=16", "--ntasks-per-node=1",
        "--distribution=arbitrary", "--job-name=s.mesh", "/opt/exchange-mesh",
        "--pattern", "all", "--measure-time"}) {
    EXPECT_TRUE(has(srun, word)) << word;
  }
  EXPECT_FALSE(has(srun, "--nodes=16")); // refused with arbitrary placement
  launch.launcher = sweep::Launcher::mpiexec;
  const auto hydra = sweep::mesh_command(launch, plan, {16, "/tmp/h", "s"});
  EXPECT_EQ(std::vector<std::string>(hydra.begin(), hydra.begin() + 7),
            (std::vector<std::string>{"mpiexec.mpich", "-f", "/tmp/h", "-ppn",
                                      "1", "-n", "16"}));
  launch.mpi = sweep::Mpi::openmpi;
  plan.measure = false;
  const auto prte = sweep::mesh_command(launch, plan, {16, "/tmp/h", "s"});
  EXPECT_TRUE(has(prte, "--hostfile") && has(prte, "--timeout") &&
              has(prte, "--no-measure"));
}

} // namespace
