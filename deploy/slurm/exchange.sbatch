#!/bin/bash
# Submit as it stands: sbatch deploy/slurm/exchange.sbatch
# Two tasks, one line each, in exchange-JOBID.out. To place the two ranks on
# two nodes (and so test the network between them): sbatch --nodes=2 ...
#
# EXCHANGE   the program to run (default: exchange, found on PATH)
# EXCHANGE_MPI   srun's MPI plugin for the implementation it was built
#                with: pmi2 for MPICH (the default), pmix for Open MPI
#SBATCH --job-name=exchange
#SBATCH --ntasks=2
#SBATCH --time=00:05:00
#SBATCH --output=exchange-%j.out
srun --mpi="${EXCHANGE_MPI:-pmi2}" "${EXCHANGE:-exchange}"
