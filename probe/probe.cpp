// exchange-probe: exchange's message and checks, then the measure of the
// path between the two ranks: latency, and bandwidth each way. Each rank
// prints one line that exchange-sweep reads.
//   mpiexec -n 2 exchange-probe [--measure-time SECONDS]
#include "measure.h"

#include <mpi.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The seconds ARGV asks the measure to take, or a negative number when it
// asks for something else.
double measure_time(int argc, char **argv) {
  double seconds = probe::Settings{}.measure_seconds;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--measure-time") != 0 || i + 1 == argc) {
      return -1;
    }
    char *end = nullptr;
    seconds = std::strtod(argv[++i], &end);
    if (*end != '\0' || !std::isfinite(seconds) || seconds < 0.01 ||
        seconds > 60) {
      return -1;
    }
  }
  return seconds;
}

bool say(FILE *stream, const std::string &line) {
  return std::fwrite(line.data(), 1, line.size(), stream) == line.size() &&
         std::fflush(stream) == 0;
}

} // namespace

int main(int argc, char **argv) {
  MPI_Init(&argc, &argv);
  int rank = 0;
  int size = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  MPI_Comm_set_errhandler(MPI_COMM_WORLD, MPI_ERRORS_RETURN);
  probe::Settings settings;
  settings.measure_seconds = measure_time(argc, argv);
  if (settings.measure_seconds < 0) {
    say(stderr, "usage: exchange-probe [--measure-time SECONDS], 0.01 to 60\n");
    MPI_Finalize();
    return 2;
  }
  if (size != 2) {
    // As exchange says it, so that a launcher of the wrong MPI is told.
    say(stdout, "needs 2 processors \n");
    MPI_Finalize();
    return 1;
  }
  probe::Figures figures;
  std::string why;
  // The launcher bounds the job; these bounds only keep a lost partner
  // from holding the rank for ever when there is none.
  const probe::Bounds bounds{MPI_Wtime() + 600,
                             600 + 20 * settings.measure_seconds};
  const auto result = probe::measure_pair(MPI_COMM_WORLD, 1 - rank, rank == 0,
                                          0, settings, bounds, figures, why);
  if (result != probe::Result::done) {
    say(stderr,
        "exchange-probe: rank " + std::to_string(rank) + ": " + why + "\n");
    // Requests may be left that will never complete: the job ends here.
    MPI_Abort(MPI_COMM_WORLD, 1);
    return 1;
  }
  const bool said = say(stdout, probe::figures_line(rank, 1 - rank, figures));
  MPI_Finalize();
  if (!said) {
    say(stderr, "exchange-probe: cannot write standard output: " +
                    std::string(std::strerror(errno)) + "\n");
    return 1;
  }
  return 0;
}
