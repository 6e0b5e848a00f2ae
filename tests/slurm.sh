#!/usr/bin/env bash
# The job under Slurm on the test cluster, one rank on each of two hosts:
# srun with the implementation's MPI plugin, and sbatch on the batch script
# that users submit, both as the README gives them, and the message seen to
# cross the data network.
#   slurm.sh LAUNCHER_FILE STATE_FILE
set -u
source "$(dirname "$0")/lib.sh" "$1"
source "$(dirname "$0")/cluster/lib.sh" "$2"
healthy srun node2 node3
healthy sbatch node3 node4
