#!/bin/bash
# Submit as it stands, with as many nodes as to check:
#   sbatch -N 16 deploy/slurm/sweep.sbatch
# exchange runs between pairs of the job's nodes, in rounds, each pair as a
# job step bounded in time, at most SWEEP_PARALLEL at once; what fails is
# tried again, then confirmed with known-good partners. The table of pairs
# and what the failures point at go to exchange-sweep-JOBID.out, the JUnit
# report beside it to exchange-sweep-JOBID.xml; the job fails (status 1)
# when a node or link is suspect, or 3 when no node's fault explains it.
#
# SWEEP           the sweep (default: exchange-sweep.mpich, which runs
#                 exchange.mpich; exchange-sweep.openmpi for Open MPI)
# SWEEP_PATTERN   ring (default: each node with the next, 2 or 3 rounds)
#                 or all (every pair: N-1 rounds, or N for an odd N)
# SWEEP_TIMEOUT   seconds each pair may take (default 30)
# SWEEP_PARALLEL  pairs at once at most (default 64)
# SWEEP_RETRIES   further tries of a pair that did not pass (default 1)
#
# Time limit: a sweep can take at worst what exchange-sweep --worst-case N
# prints (minutes): every try of every round to its bound and then ended,
# each round tried 1 + R times, up to 3 rounds of confirmation, and Slurm's
# answers (exchange-sweep(1), TIME LIMITS). 40 minutes covers ring at the
# defaults up to 512 nodes. For more, or for all, ask the sweep how long and
# submit with that:
#   sbatch -N 64 --time=$(exchange-sweep.mpich --worst-case 64 --pattern all) \
#     --export=ALL,SWEEP_PATTERN=all deploy/slurm/sweep.sbatch
# The sweep warns at start when its job would end before its worst case.
#SBATCH --job-name=exchange-sweep
#SBATCH --ntasks-per-node=1
#SBATCH --time=00:40:00
#SBATCH --output=exchange-sweep-%j.out
exec "${SWEEP:-exchange-sweep.mpich}" --pattern "${SWEEP_PATTERN:-ring}" \
  --timeout "${SWEEP_TIMEOUT:-30}" --parallel "${SWEEP_PARALLEL:-64}" \
  --retries "${SWEEP_RETRIES:-1}" --junit "exchange-sweep-$SLURM_JOB_ID.xml"
