// peer: the other end of an exchange job, started beside exchange in one
// job so that the tests can see the message itself.
//   peer receive      as rank 1: take whatever arrives, by wildcards, and
//                     check it is one MPI_INT of 777 from rank 0, tag 0
//   peer send VALUE   as rank 0: send VALUE where exchange would send 777
//   peer decoy VALUE  the same, after a decoy of another value with tag 1
//   peer die-before-init, peer die-after-init
//                     as rank 0: be killed before joining the job, or after
//                     joining it but before sending
#include <mpi.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool receive() {
  MPI_Status status;
  MPI_Probe(MPI_ANY_SOURCE, MPI_ANY_TAG, MPI_COMM_WORLD, &status);
  int bytes = -1;
  MPI_Get_count(&status, MPI_BYTE, &bytes);
  // Room for more than one element, so that a longer message is seen whole
  // rather than truncated into an error.
  int values[4] = {0, 0, 0, 0};
  MPI_Recv(values, 4, MPI_INT, status.MPI_SOURCE, status.MPI_TAG,
           MPI_COMM_WORLD, &status);
  int count = -1;
  MPI_Get_count(&status, MPI_INT, &count);
  std::printf("peer: source %d tag %d count %d bytes %d value %d\n",
              status.MPI_SOURCE, status.MPI_TAG, count, bytes, values[0]);
  return status.MPI_SOURCE == 0 && status.MPI_TAG == 0 && count == 1 &&
         bytes == static_cast<int>(sizeof(int)) && values[0] == 777;
}

bool send(const char *text, bool decoy_first) {
  char *end = nullptr;
  const long parsed = std::strtol(text, &end, 10);
  int value = static_cast<int>(parsed);
  const bool whole = *end == '\0' && value == parsed;
  if (whole && decoy_first) {
    // Sent first, so that a receive that takes any tag gets this one.
    int decoy = ~value;
    MPI_Send(&decoy, 1, MPI_INT, 1, 1, MPI_COMM_WORLD);
  }
  if (whole) {
    MPI_Send(&value, 1, MPI_INT, 1, 0, MPI_COMM_WORLD);
  }
  return whole;
}

} // namespace

int main(int argc, char **argv) {
  const char *mode = argc > 1 ? argv[1] : "";
  if (std::strcmp(mode, "die-before-init") == 0) {
    (void)std::raise(SIGKILL);
  }
  MPI_Init(&argc, &argv);
  int rank = -1;
  int size = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &size);

  if (std::strcmp(mode, "die-after-init") == 0) {
    (void)std::raise(SIGKILL);
  }

  bool passed = false;
  if (size != 2) {
    (void)std::fprintf(stderr, "peer: job of %d processes, not 2\n", size);
  } else if (argc == 2 && std::strcmp(argv[1], "receive") == 0 && rank == 1) {
    passed = receive();
  } else if (argc == 3 && std::strcmp(argv[1], "send") == 0 && rank == 0) {
    passed = send(argv[2], false);
  } else if (argc == 3 && std::strcmp(argv[1], "decoy") == 0 && rank == 0) {
    passed = send(argv[2], true);
  } else {
    (void)std::fprintf(stderr, "peer: nothing to do as rank %d\n", rank);
  }

  MPI_Finalize();
  return passed ? 0 : 1;
}
