// What one job of every pair (exchange-mesh) comes to: its lines, read as
// they come, gathered into a try for each pair of the pattern that both its
// ranks, or one, reported; nothing for a pair neither did, nor for one
// whose silent rank said nothing at all: a rank that never joined the job
// (held in its start by the MPI library) tried no pair, and its partner's
// time-out says nothing of the pair. A job whose ranks do not run on the
// nodes the sweep named them for is trusted for nothing.
#pragma once

#include "decide/blame.h"
#include "decide/schedule.h"
#include "decide/verdict.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sweep {

// What a mesh job came to.
struct MeshRun {
  std::vector<std::vector<std::optional<Attempt>>> attempts;
  std::size_t reported = 0;   // lines of pairs read
  std::size_t unreadable = 0; // lines that could not be
  std::string problem;        // why nothing of it is trusted, or empty
  double seconds = 0;
  int status = -1;
  bool ran = false;
};

// With the mesh alone, nothing runs what it did not report: the nodes of
// such a pair are undetermined.
void unreported_undetermined(const std::vector<PairRecord> &records,
                             Findings &findings);

class MeshTally {
public:
  // The pattern ALL (else ring) over NODES, in the order the job's ranks
  // run them.
  MeshTally(std::vector<std::string> nodes, bool all);

  // One whole line of the job's output, without its line feed.
  void line(std::string_view text);
  // Bytes of the output as they come, split into lines here; a line
  // longer than the longest is unreadable.
  void bytes(std::string_view chunk);

  // Each pattern round's tries, in the order of ring() or all_pairs().
  [[nodiscard]] std::vector<std::vector<std::optional<Attempt>>>
  attempts() const;
  [[nodiscard]] std::size_t unreadable() const { return unreadable_; }
  [[nodiscard]] std::size_t reported() const { return reported_; }
  // How many ranks said where they run, and how many said their last.
  [[nodiscard]] std::size_t identified() const { return identified_; }
  [[nodiscard]] std::size_t finished() const { return finished_; }
  // Why the job's lines are trusted for nothing, or empty.
  [[nodiscard]] std::string problem() const;

private:
  // What each of a pair's two ranks said: 0 nothing, 1 done, 2 timed out,
  // 3 failed; the leader's latency and each rank's bandwidth.
  struct Said {
    std::uint8_t first = 0;
    std::uint8_t second = 0;
    float latency_s = -1;
    float first_bandwidth = -1;
    float second_bandwidth = -1;
  };
  static Attempt attempt_of(const Said &said);
  // Whether each pair of ROUND has both its ranks joined the job.
  [[nodiscard]] std::vector<bool> both_joined(std::size_t round) const;

  std::vector<std::string> nodes_;
  bool all_;
  std::size_t rounds_;
  std::vector<std::vector<std::uint32_t>> slot_; // round, rank: its pair
  std::vector<std::vector<Said>> said_;          // round, pair
  std::vector<std::string> hosts_;               // as each rank said
  std::vector<bool> ended_;                      // each rank's last said
  std::vector<bool> joined_;                     // each rank said a line
  std::string partial_;
  bool skipping_ = false; // the rest of a line too long to read
  std::size_t unreadable_ = 0;
  std::size_t reported_ = 0;
  std::size_t identified_ = 0;
  std::size_t finished_ = 0;
};

} // namespace sweep
