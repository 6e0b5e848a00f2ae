#!/bin/bash
# Submit as it stands, with as many nodes as to check:
#   sbatch -N 16 deploy/slurm/sweep.sbatch
# exchange runs between pairs of the job's nodes, in rounds, each pair as a
# job step bounded in time. The table of pairs and the suspect nodes and
# links go to exchange-sweep-JOBID.out, the JUnit report beside it to
# exchange-sweep-JOBID.xml; the job fails when any pair failed.
#
# SWEEP           the sweep (default: exchange-sweep.mpich, which runs
#                 exchange.mpich; exchange-sweep.openmpi for Open MPI)
# SWEEP_PATTERN   ring (default: each node with the next, 2 or 3 rounds)
#                 or all (every pair: N-1 rounds, or N for an odd N)
# SWEEP_TIMEOUT   seconds each pair may take (default 30)
#
# The time limit covers "all" on 16 nodes: 15 rounds of at most 40 s.
#SBATCH --job-name=exchange-sweep
#SBATCH --ntasks-per-node=1
#SBATCH --time=00:15:00
#SBATCH --output=exchange-sweep-%j.out
exec "${SWEEP:-exchange-sweep.mpich}" --pattern "${SWEEP_PATTERN:-ring}" \
  --timeout "${SWEEP_TIMEOUT:-30}" --junit "exchange-sweep-$SLURM_JOB_ID.xml"
