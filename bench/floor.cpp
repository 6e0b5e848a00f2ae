// floor: the least any MPI program costs, joining and leaving the job and
// nothing else; what the benchmark weighs exchange against.
#include <mpi.h>

int main(int argc, char **argv) {
  MPI_Init(&argc, &argv);
  MPI_Finalize();
  return 0;
}
