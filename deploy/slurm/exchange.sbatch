#!/bin/bash
# Submit as it stands: sbatch deploy/slurm/exchange.sbatch
# Two tasks, one line each, in exchange-JOBID.out. To place the two ranks on
# two nodes (and so test the network between them): sbatch --nodes=2 ...
#
# EXCHANGE   the program to run (default: exchange, found on PATH)
# EXCHANGE_MPI   srun's MPI plugin for the implementation it was built
#                with: pmi2 for MPICH (the default), pmix for Open MPI
#
# A healthy exchange takes about a second. A dead link would hold the job
# for minutes or for ever, so the job's time limit is the least Slurm
# allows, one minute; Slurm checks limits every 30 s and then signals the
# job, so a stuck one ends within about two minutes. A task that fails ends
# the step at once (--kill-on-bad-exit) rather than leaving its peer waiting.
#SBATCH --job-name=exchange
#SBATCH --ntasks=2
#SBATCH --time=1
#SBATCH --output=exchange-%j.out
srun --mpi="${EXCHANGE_MPI:-pmi2}" --kill-on-bad-exit=1 "${EXCHANGE:-exchange}"
