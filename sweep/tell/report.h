// Telling what the sweep found: the table on standard output, JSON, JUnit
// and the page. Each writer has a file of its own; they share what is here.
#pragma once

#include "decide/blame.h"
#include "decide/drain_plan.h"
#include "decide/mesh_tally.h"
#include "decide/slow.h"
#include "decide/verdict.h"
#include "given/topology.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace sweep {

// What the sweep itself cost, not its jobs: for sizing it at scale.
struct Usage {
  double wall_seconds = 0;
  double cpu_seconds = 0; // its own, user and system
  long max_rss_kib = 0;   // its own peak resident memory
  std::size_t max_descriptors = 0;
};

struct Report {
  std::string pattern;
  double timeout = 30;
  int retries = 1;
  std::size_t nodes = 0;
  std::vector<std::string> node_order; // as swept: by switch, with a tree
  std::vector<std::string> duplicates; // hosts given again, dropped
  Topology topology;
  // Where the tree came from: "slurm", "file", "none" (--topology none),
  // or empty for none at all; and why a tree could not be used, or empty.
  std::string topology_source;
  std::string topology_problem;
  std::vector<PairRecord> records;
  Findings findings;
  bool complete = true;
  int signal = 0; // the signal that interrupted the sweep, or 0
  Usage usage;
  DrainReport drain;
  std::vector<std::string> stuck_steps; // that would not go, with why
  double worst_case_seconds = 0;
  // Whether each pair ran the probe, and the fabric its pattern measured,
  // by class (slow.h: 0 inside a switch or all, 1 across).
  bool measured = false;
  std::map<int, Medians> fabric;
  // How the pairs ran (auto, mesh or pairs), and the mesh's job.
  std::string engine = "pairs";
  std::optional<MeshRun> mesh;
};

struct Counts {
  std::size_t passed = 0;
  std::size_t failed = 0;
  std::size_t flaky = 0;
  std::size_t hung = 0;
  std::size_t not_run = 0;
  std::size_t slow = 0;
};
Counts count(const std::vector<PairRecord> &records);

std::string pair_name(const Pair &pair);
// The pair's reason: its last failure, and for a flaky pair the try that
// passed too.
std::string pair_reason(const PairRecord &record);
// The try whose seconds and status stand for the pair: its last that ran.
const Attempt *last_run(const PairRecord &record);
// "12 pairs: 10 passed, 1 failed, ..."
std::string summary_line(const Report &report);
// "fabric inside switches: 12 pairs, median latency 7.1 us, bandwidth
// 2300.0 MB/s; across ...", or empty when nothing was measured.
std::string fabric_line(const Report &report);
// "engine: auto, the mesh then a job a pair: 120 of 120 pairs reported in
// 8.2 s, 0 lines unreadable", or empty for a job a pair.
std::string engine_line(const Report &report);
// A figure as the reports show it.
std::string latency_text(double seconds);
std::string bandwidth_text(double bytes_per_second);
// Whether the sweep ran to its end and found nothing to blame.
bool all_clear(const Report &report);
// Why the tree was not used, in one line; empty when it was, or when none
// was to be had.
std::string topology_note(const Report &report);

void write_table(std::ostream &out, const Report &report);
// The findings in one line: "suspect nodes: n3; suspect links: n1-n2", or
// "nothing is suspect".
std::string findings_line(const Report &report);
nlohmann::ordered_json to_json(const Report &report);
std::string to_junit(const Report &report);
// One page, self-contained: the node-by-node matrix of verdicts.
std::string to_html(const Report &report);

} // namespace sweep
