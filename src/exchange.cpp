// exchange: the smallest proof that MPI point-to-point messaging works.
// Rank 0 sends the integer 777 to rank 1; each of the two writes one line
// saying what it sent or received. Any other job size writes a size line.
#include <mpi.h>

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char **argv) {
  // MPI_Init opens pipes and sockets of its own; a standard descriptor that
  // we were started without would become one of them, and our line would go
  // into the library's channel as if it had been written. Hold each closed
  // one with /dev/null instead: standard output read-only, so that writing
  // the line fails and is reported below.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      // Lower descriptors are open by now, so this one takes exactly fd.
      open("/dev/null", fd == 2 ? O_WRONLY : O_RDONLY);
    }
  }

  MPI_Init(&argc, &argv);
  int rank = 0;
  int size = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &size);

  char line[64];
  int length = 0;
  if (size != 2) {
    length = std::snprintf(line, sizeof line, "needs 2 processors \n");
  } else if (rank == 0) {
    int value = 777;
    MPI_Send(&value, 1, MPI_INT, 1, 0, MPI_COMM_WORLD);
    length =
        std::snprintf(line, sizeof line,
                      " process %d : %d has to sent to: %d\n", rank, value, 1);
  } else {
    int value = 0;
    MPI_Status status;
    MPI_Recv(&value, 1, MPI_INT, 0, 0, MPI_COMM_WORLD, &status);
    length = std::snprintf(line, sizeof line,
                           " process %d : %d has been received from: %d\n",
                           rank, value, 0);
  }

  // The whole line in one write, so that the lines of several processes
  // reach the launcher whole; flushed here so that an error that only shows
  // on flushing (a file or device behind a full buffer) is seen too.
  const auto bytes = static_cast<std::size_t>(length);
  const bool written =
      std::fwrite(line, 1, bytes, stdout) == bytes && std::fflush(stdout) == 0;
  const int error = errno;

  // A lost line must not pass for a good exchange. Said while the job is
  // whole: Open MPI's launcher ends the job when the first process exits
  // with a failure, and would cut off the others' reports still to come.
  if (!written) {
    (void)std::fprintf(stderr, "exchange: cannot write standard output: %s\n",
                       std::strerror(error));
  }

  MPI_Finalize();
  return written ? 0 : 1;
}
