#!/usr/bin/env bash
# exchange-sweep on the test cluster, under mpiexec across the hosts and
# as srun steps inside an allocation, over node1 to node4: a healthy
# cluster passes every pair; a host whose data link is dead is named
# alone, and so is a dead link between two hosts, each under ring and all;
# the batch script writes its table and fails on a dead host. Meanwhile a
# job of the same user runs a step on node5, outside every sweep, and must
# keep running through the sweeps whose pairs time out. Each sweep ends
# within its rounds' bounds and leaves nothing running.
#   sweep.sh LAUNCHER_FILE STATE_FILE
set -u
source "$(dirname "$0")/lib.sh" "$1"
source "$(dirname "$0")/cluster/lib.sh" "$2"
command -v jq >/dev/null || skip "jq is not installed"
((CLUSTER_SIZE >= 5)) || skip "the sweep's checks need 5 hosts, not $CLUSTER_SIZE"
SWEEP=$CLUSTER_DIR/bin/exchange-sweep
# A healthy pair takes a second at most here.
timeout=6
hosts=node1,node2,node3,node4
size=4

# The bystander: another job of the same user, a step running on node5.
busy_hosts=node5
bystander=$(on node1 sbatch --parsable --nodelist=node5 --nodes=1 --time=20 \
  --output=/dev/null --wrap 'srun sleep 900')
trap 'heal; on node1 scancel "$bystander"; rm -rf "$work"' EXIT
bystander_running() {
  [[ -n $(on node1 squeue --noheader --steps --jobs="$bystander" --format=%i | grep -x "$bystander.0") ]]
}
for _ in {1..50}; do
  bystander_running && break
  sleep 0.2
done
bystander_running || fail "the bystander's step did not start"

# sweep LAUNCH PATTERN [HOSTS]: one sweep, by LAUNCH (mpiexec: with
# --hosts; srun: inside an allocation of them), its JSON in $json (where
# the hosts can write), its table in $work/out, its status in rc.
json=$CLUSTER_DIR/jobs/sweep.json
sweep() {
  local over=${3:-$hosts}
  local args=(--pattern "$2" --timeout "$timeout" --json "$json" "$PROGRAM")
  rm -f "$json"
  begin=${EPOCHREALTIME/./}
  if [[ $1 == mpiexec ]]; then
    run on node1 "$SWEEP" --hosts "$over" "${args[@]}"
  else
    run on node1 salloc --quiet --nodelist="$over" --ntasks-per-node=1 --time=10 \
      "$SWEEP" "${args[@]}"
  fi
  seconds=$(((${EPOCHREALTIME/./} - begin) / 1000000))
  rounds=$(grep -c '^round ' "$work/err")
}
# expect_pairs PATTERN N: the JSON holds every pair of PATTERN over
# node1 to nodeN once, and the confirmation pairs besides.
expect_pairs() {
  local want i j n=$2
  if [[ $1 == ring ]]; then
    want=$(for ((i = 1; i < n; i++)); do echo "node$i node$((i + 1))"; done; echo "node1 node$n")
  else
    want=$(for ((i = 1; i <= n; i++)); do for ((j = i + 1; j <= n; j++)); do echo "node$i node$j"; done; done)
  fi
  diff <(sort <<<"$want") \
    <(jq -r '.pairs[] | select(.confirmation | not) | .nodes | sort | join(" ")' "$json" | sort) >/dev/null ||
    fail "the JSON does not hold every pair of $1 once: $(verdicts)"
}
# A sweep ends within its rounds, each its bound and a few seconds.
expect_in_time() {
  ((seconds <= rounds * (timeout + 12))) ||
    fail "$rounds rounds took $seconds s, more than $((timeout + 12)) s each"
}

# check LAUNCH PATTERN EXPECTATION [HOSTS]: one sweep, and EXPECTATION (a
# function) must hold of it. The sweep itself tries again what did not
# pass; a pair that hung after both lines is no evidence either way.
check() {
  local over=${4:-$hosts}
  sweep "$1" "$2" "$over"
  [[ -s $json ]] || fail "$1 $2: no JSON (status $rc): $(cat "$work/err")"
  expect_pairs "$2" "$(tr -cd , <<<"$over" | wc -c | awk '{print $1 + 1}')"
  expect_in_time
  expect_nothing_left
  "$3" || fail "$1 $2 $3 does not hold: status $rc; $(cat "$work/out" "$work/err")"
  bystander_running || fail "$1 $2 $3: the bystander's step is gone"
  echo "$1 $2 $3: status $rc after $seconds s, $rounds rounds, $(count flaky) flaky," \
    "$(count exchanged-then-hung) exchanged then hung: $(verdicts)"
}

# Every pair passed, or was flaky, or (a known hang) exchanged then hung.
all_good() {
  ((rc == 0)) && (($(count failed) == 0)) &&
    [[ $(jq -c '.suspect_nodes + .undetermined' "$json") == '[]' ]]
}
# node3 alone is suspect, and every pair without it passed.
node3_named() {
  ((rc == 1)) &&
    [[ $(jq -c .suspect_nodes "$json") == '["node3"]' ]] &&
    [[ $(jq -c '.suspect_links + .undetermined' "$json") == '[]' ]] &&
    [[ -z $(jq -r '.pairs[] | select((.nodes | index("node3")) == null and .verdict == "failed") | .nodes[]' "$json") ]]
}
# The link between node1 and node2 alone is suspect, and no node.
link_named() {
  ((rc == 1)) &&
    [[ $(jq -c '.suspect_links | map(sort)' "$json") == '[["node1","node2"]]' ]] &&
    [[ $(jq -c '.suspect_nodes + .undetermined' "$json") == '[]' ]]
}

# The batch script as users submit it: the table in its output file, the
# JUnit report beside it; status 0 when healthy, 1 with a dead host. The
# sweep measures with the probe installed beside it, under its installed
# name.
cp "$PROGRAM" "$CLUSTER_DIR/bin/exchange.$MPI_IMPLEMENTATION"
cp "$CLUSTER_DIR/bin/exchange-probe" "$CLUSTER_DIR/bin/exchange-probe.$MPI_IMPLEMENTATION"
batch_sweep=$(dirname "$batch_script")/sweep.sbatch
batch() {
  run on node1 sbatch --wait --parsable --nodelist="$hosts" --chdir="$CLUSTER_DIR/jobs" \
    --export="ALL,SWEEP=$SWEEP,SWEEP_TIMEOUT=$timeout" "$batch_sweep"
  job=$(head -n1 "$work/out")
  table=$CLUSTER_DIR/jobs/exchange-sweep-$job.out
  junit=$CLUSTER_DIR/jobs/exchange-sweep-$job.xml
  [[ -s $table && -s $junit ]] || fail "sbatch sweep.sbatch (status $rc) wrote no table or no JUnit report"
  rows=$(grep -cE '^node[0-9]+-node[0-9]+ +[a-z-]+ ' "$table")
  # The pairs' test cases; the findings have a suite of their own.
  cases=$(grep -cE '<testcase classname="exchange-sweep\.(ring|all|confirmation)"' "$junit")
  ((rows == cases && rows >= size)) || fail "sbatch sweep.sbatch: $rows rows, $cases test cases: $(cat "$table")"
}
batch
((rc == 0)) || fail "sbatch sweep.sbatch, healthy: status $rc: $(cat "$table")"
echo "sbatch sweep.sbatch, healthy: status $rc, $rows pairs in the table and the JUnit report"
isolate node3
batch
((rc == 1)) && grep -qx 'suspect nodes: node3' "$table" ||
  fail "sbatch sweep.sbatch, node3 dead: status $rc: $(cat "$table")"
echo "sbatch sweep.sbatch, node3 dead: status $rc, node3 named in its table"
heal
expect_nothing_left

for launch in mpiexec srun; do
  check "$launch" ring all_good
  check "$launch" all all_good
done
# Each fault under both patterns and both launchers.
isolate node3
check mpiexec ring node3_named
check srun all node3_named
heal
blackhole node1 node2
check mpiexec all link_named
check srun ring link_named
heal
bystander_running || fail "the bystander's step is gone"
echo "the bystander's step ran through every sweep"
