#!/usr/bin/env bash
# Starts one command or another by the rank the launcher gave this process,
# so that a job of two programs is one plain job: Open MPI 5's launcher
# crashes on jobs of several programs (mpiexec -n 1 A : -n 1 B).
#   by_rank.sh COMMAND_FOR_RANK_0... -- COMMAND_FOR_RANK_1...
rank=${PMI_RANK:-${OMPI_COMM_WORLD_RANK:-${PMIX_RANK:-${SLURM_PROCID:-}}}}
words=("$@")
for ((split = 0; split < ${#words[@]}; split++)); do
  [[ ${words[split]} == -- ]] && break
done
case $rank in
0) exec "${words[@]:0:split}" ;;
1) exec "${words[@]:split+1}" ;;
*)
  echo "by_rank.sh: no command for rank '$rank'" >&2
  exit 2
  ;;
esac
