#!/usr/bin/env bash
# The job under Slurm: a throwaway one-node cluster of its own (munged,
# slurmctld, slurmd, with key, sockets, ports, state and logs in a temporary
# directory), then srun with the implementation's MPI plugin and sbatch on
# the batch script that users submit.
#   slurm.sh LAUNCHER_FILE BATCH_SCRIPT
set -u
source "$(dirname "$0")/lib.sh" "$1"
batch_script=$2

((EUID == 0)) || skip "running slurmd and munged needs root"
for daemon in munged slurmctld slurmd srun sbatch sinfo; do
  command -v "$daemon" >/dev/null || skip "$daemon is not installed (packages slurm-wlm, munge)"
done

cleanup() {
  local pidfile pid
  for pidfile in "$work"/*.pid; do
    [[ -s $pidfile ]] && pid=$(<"$pidfile") && kill "$pid" 2>/dev/null
  done
  sleep 0.5
  for pidfile in "$work"/*.pid; do
    [[ -s $pidfile ]] && pid=$(<"$pidfile") && kill -9 "$pid" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT

if [[ $MPI_IMPLEMENTATION == openmpi ]]; then plugin=pmix; else plugin=pmi2; fi
node=$(hostname -s)
# Ports of this run's own, away from Slurm's defaults (6817, 6818).
ctld_port=$((20000 + $$ % 20000))
slurmd_port=$((ctld_port + 1))

head -c 1024 /dev/urandom >"$work/munge.key"
chmod 400 "$work/munge.key"
mkdir -p "$work/state" "$work/spool"
export SLURM_CONF=$work/slurm.conf
cat >"$SLURM_CONF" <<CONF
ClusterName=exchangetest
SlurmctldHost=$node(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$work/munge.socket
CredType=cred/munge
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
MpiDefault=none
ReturnToService=2
JobCompType=jobcomp/none
AccountingStorageType=accounting_storage/none
NodeName=$node NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=test Nodes=ALL Default=YES MaxTime=10 State=UP OverSubscribe=YES
CONF

daemon_failed() {
  echo "FAIL: $1 did not start"
  tail -n 20 "$work"/*.log
  exit 1
}
munged --force --key-file="$work/munge.key" --socket="$work/munge.socket" \
  --pid-file="$work/munged.pid" --log-file="$work/munged.log" \
  --seed-file="$work/munge.seed" || daemon_failed munged
slurmctld -i || daemon_failed slurmctld
slurmd -N "$node" || daemon_failed slurmd
for ((i = 0; i < 100; i++)); do
  [[ $(sinfo -h -o %t 2>/dev/null) == idle ]] && break
  sleep 0.2
done
[[ $(sinfo -h -o %t 2>/dev/null) == idle ]] || daemon_failed "the node"

run timeout 60 srun --mpi="$plugin" -n 2 "$EXCHANGE"
expect_clean_success
expect_lines "$sent_line" "$received_line"

run timeout 60 sbatch --wait --quiet --output="$work/batch.out" \
  --export="ALL,EXCHANGE=$EXCHANGE,EXCHANGE_MPI=$plugin" "$batch_script"
((rc == 0)) || fail "sbatch status $rc"
cp "$work/batch.out" "$work/out"
expect_lines "$sent_line" "$received_line"
echo "srun --mpi=$plugin and sbatch: the two lines"
