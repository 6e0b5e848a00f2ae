// What the sweep is given, checked before anything is launched, and what
// it found, put together for the reports.
#pragma once

#include "act/flavour.h"
#include "act/mesh.h"
#include "decide/budget.h"
#include "decide/drain_plan.h"
#include "decide/slow.h"
#include "decide/sweeper.h"
#include "given/options.h"
#include "given/topology.h"
#include "tell/deliver.h"
#include "tell/report.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace sweep {

// exchange of the sweep's own implementation, installed beside it; and
// its measuring program.
std::string program_beside_me();
std::string probe_beside_me();
std::string mesh_beside_me();

struct Setup {
  Launch launch;
  Plan plan;
  Topology topology;
  std::string topology_source;
  std::string topology_problem;
  std::vector<std::string> duplicates;
  DrainMode drain = DrainMode::off;
  ReportFiles files;
  Budget budget;
  std::size_t descriptors = 0;       // open before the first round
  std::shared_ptr<SlowJudge> slow;   // where measured
  std::string engine = "pairs";      // as chosen: auto, mesh or pairs
  MeshPlan mesh;                     // where a mesh runs
  std::shared_ptr<MeshRun> mesh_run; // what it came to
};

// Throws Refusal, with the one line that says why.
Setup prepare(const Options &options);
// The worst case of a sweep of NODES nodes with OPTIONS, as --worst-case
// tells it, in seconds.
double worst_case(const Options &options, std::size_t nodes, bool steps);

// The report of a sweep that ran, with its findings and its drain (done
// here, unless the sweep was cut short or found no node to blame).
Report report_of(const Options &options, Setup &setup, const Swept &swept,
                 std::chrono::steady_clock::time_point start);

} // namespace sweep
