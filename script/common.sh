# Sourced by the scripts in script/: the MPI implementation to use, and the
# build tree, compiler and launcher that belong to it.
#   script/NAME [--mpi mpich|openmpi] [--sanitize] [ARGS...]
# --sanitize builds with AddressSanitizer and UBSan, in a tree of its own.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
mpi=mpich
sanitize=
while true; do
  case ${1-} in
  --mpi)
    mpi=${2-}
    shift 2 || true
    ;;
  --sanitize)
    sanitize=-sanitize
    shift
    ;;
  *) break ;;
  esac
done
case $mpi in
mpich) mpi_packages=(mpich libmpich-dev) ;;
openmpi) mpi_packages=(openmpi-bin libopenmpi-dev) ;;
*)
  echo "$(basename "$0"): unknown MPI implementation '$mpi' (known: mpich, openmpi)" >&2
  exit 2
  ;;
esac
build_dir=$root/build/$mpi$sanitize
build_options=(--mpi "$mpi" ${sanitize:+--sanitize})
# Debian's alternatives may point plain mpicxx and mpiexec at another
# implementation; these names never do.
mpi_compiler=mpicxx.$mpi
mpi_launcher=mpiexec.$mpi
