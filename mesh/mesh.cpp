// exchange-mesh: one MPI job over every node of a sweep, one rank a node,
// running the sweep's rounds (ring or all, in the sweep's order of nodes:
// rank I is node I), each pair exchange's message and checks, then the
// probe's measure. Each pair is bounded on its own: the partner must answer
// by its round's mark on a clock all ranks share, counted from their start,
// and the pair then has a bound of its own; so a dead node costs its own
// pairs, not a cascade through everyone's later rounds. Each rank prints a
// line as each of its pairs is decided, whole, which exchange-sweep reads
// as the job runs:
//   exchange-mesh rank=I host=NAME
//   exchange-mesh round=R rank=I partner=J result=done value=777
//     latency_s=... bandwidth_bytes_per_s=...
//   exchange-mesh round=R rank=I partner=J result=timed_out
//   exchange-mesh rank=I end=ROUNDS
// No rank finalizes: a rank that gave up on a partner leaves requests
// that can never complete, and MPI_Finalize would wait for them (MPICH 4.0
// with UCX waits now and then even for none). Every rank ends once every
// rank has said its last, or the job's bound is near: with status 3 when
// it gave up on a partner or the others did not all say their last.
//   exchange-mesh --pattern ring|all --nodes N --pair-bound SECONDS
//     --start-allowance SECONDS [--measure-time SECONDS | --no-measure]
#include "decide/schedule.h"
#include "measure.h"

#include <mpi.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Plan {
  bool all = false;
  std::size_t nodes = 0;
  double pair_bound = 4;
  double start_allowance = 5;
  probe::Settings settings;
};

// Between two rounds' marks: the pair's bound and a margin for the clocks.
constexpr double margin = 0.5;

bool number(const char *text, double low, double high, double &value) {
  char *end = nullptr;
  value = std::strtod(text, &end);
  return *end == '\0' && std::isfinite(value) && value >= low && value <= high;
}

bool parse(int argc, char **argv, Plan &plan) {
  bool pattern = false;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--no-measure") {
      plan.settings.measure = false;
      continue;
    }
    if (i + 1 == argc) {
      return false;
    }
    const char *text = argv[++i];
    double value = 0;
    if (option == "--pattern" &&
        (std::strcmp(text, "ring") == 0 || std::strcmp(text, "all") == 0)) {
      plan.all = std::strcmp(text, "all") == 0;
      pattern = true;
    } else if (option == "--nodes" && number(text, 2, 1e6, value)) {
      plan.nodes = static_cast<std::size_t>(value);
    } else if (option == "--pair-bound" && number(text, 0.01, 86400, value)) {
      plan.pair_bound = value;
    } else if (option == "--start-allowance" && number(text, 0, 86400, value)) {
      plan.start_allowance = value;
    } else if (option == "--measure-time" && number(text, 0.01, 60, value)) {
      plan.settings.measure_seconds = value;
    } else {
      return false;
    }
  }
  return pattern && plan.nodes >= 2;
}

// LINE whole, in one write, so that lines of ranks never mix.
void say(const std::string &line) {
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t wrote =
        write(STDOUT_FILENO, line.data() + done, line.size() - done);
    if (wrote <= 0) {
      return;
    }
    done += static_cast<std::size_t>(wrote);
  }
}

std::string host_name() {
  const char *slurm = std::getenv("SLURMD_NODENAME");
  if (slurm != nullptr && *slurm != '\0') {
    return slurm;
  }
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  return name;
}

std::string pair_line(std::size_t round, int rank, std::size_t partner,
                      probe::Result result, const probe::Figures &figures) {
  char line[320];
  const char *word = result == probe::Result::done        ? "done"
                     : result == probe::Result::timed_out ? "timed_out"
                                                          : "failed";
  int length = std::snprintf(line, sizeof line,
                             "exchange-mesh round=%zu rank=%d partner=%zu "
                             "result=%s",
                             round, rank, partner, word);
  if (result == probe::Result::done && length > 0) {
    (void)std::snprintf(line + length,
                        sizeof line - static_cast<std::size_t>(length),
                        " value=%d latency_s=%.9g "
                        "bandwidth_bytes_per_s=%.9g",
                        figures.value, figures.latency_s, figures.bandwidth);
  }
  return std::string(line) + "\n";
}

} // namespace

int main(int argc, char **argv) {
  MPI_Init(&argc, &argv);
  const double start = MPI_Wtime();
  int rank = 0;
  int size = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  MPI_Comm_set_errhandler(MPI_COMM_WORLD, MPI_ERRORS_RETURN);
  Plan plan;
  if (!parse(argc, argv, plan) ||
      plan.nodes != static_cast<std::size_t>(size)) {
    if (rank == 0) {
      (void)std::fprintf(stderr,
                         "usage: exchange-mesh --pattern ring|all --nodes N "
                         "--pair-bound SECONDS --start-allowance SECONDS "
                         "[--measure-time SECONDS | --no-measure], N the job's "
                         "size (%d)\n",
                         size);
    }
    MPI_Finalize();
    return 2;
  }
  say("exchange-mesh rank=" + std::to_string(rank) + " host=" + host_name() +
      "\n");
  const std::size_t rounds = sweep::round_count(plan.all, plan.nodes);
  const double slot = plan.pair_bound + margin;
  // Tags of a round, 8 of them, wrapping far below the tag bound: a pair
  // of ranks meets once, so a late message never meets another pair's.
  int *tag_bound = nullptr;
  int found = 0;
  MPI_Comm_get_attr(MPI_COMM_WORLD, MPI_TAG_UB, &tag_bound, &found);
  const std::size_t tag_rounds = found != 0 && tag_bound != nullptr
                                     ? static_cast<std::size_t>(*tag_bound) / 8
                                     : 4095;
  bool abandoned = false;
  for (std::size_t round = 0; round < rounds; ++round) {
    const auto seat = sweep::seat_in_round(
        plan.all, plan.nodes, static_cast<std::size_t>(rank), round);
    if (!seat) {
      continue;
    }
    const probe::Bounds bounds{start + plan.start_allowance +
                                   static_cast<double>(round + 1) * slot,
                               plan.pair_bound};
    probe::Figures figures;
    std::string why;
    const auto result = probe::measure_pair(
        MPI_COMM_WORLD, static_cast<int>(seat->partner), seat->first,
        static_cast<int>((round % tag_rounds) * 8), plan.settings, bounds,
        figures, why);
    abandoned = abandoned || result != probe::Result::done;
    say(pair_line(round, rank, seat->partner, result, figures));
  }
  say("exchange-mesh rank=" + std::to_string(rank) +
      " end=" + std::to_string(rounds) + "\n");
  // Every rank done, or the job's bound near: then away.
  MPI_Request all_done = MPI_REQUEST_NULL;
  const double last =
      start + 2 * plan.start_allowance + static_cast<double>(rounds) * slot;
  int done = 0;
  if (MPI_Ibarrier(MPI_COMM_WORLD, &all_done) == MPI_SUCCESS) {
    while (done == 0 && MPI_Wtime() < last) {
      if (MPI_Test(&all_done, &done, MPI_STATUS_IGNORE) != MPI_SUCCESS) {
        break;
      }
      usleep(1000);
    }
  }
  (void)std::fflush(nullptr);
  if (abandoned || done == 0) {
    // MPI_Finalize would wait for ever on a request that can never
    // complete, or on a rank that is gone: every pair is said, so away.
    _exit(3);
  }
  // Every request complete and every rank here: leaving properly spares
  // the launcher's handling of ranks that did not (seconds in Open MPI's).
  // Where MPICH 4.0 now and then hangs in it, the sweep, which has read
  // every rank's last line, ends the job.
  MPI_Finalize();
  return 0;
}
