#!/usr/bin/env bash
# exchange-sweep measuring each pair (exchange-probe) on the 16-host test
# cluster under its tree, as srun steps (the tree from Slurm) and under
# mpiexec with --topology. At once, in one ring: node6's data link at 10
# Mbit/s, the path between node1 and node2 alone at 10 Mbit/s, and leaf3's
# uplink at 10 Mbit/s: node6 alone is a slow node, node1-node2 alone a
# slow link, leaf3 alone a slow uplink, nothing failed, status 1. Under
# all, over node1 to node8, the slow path alone is the slow link. Healthy,
# with both cores kept busy by other processes: three sweeps name nothing.
#   measure.sh LAUNCHER_FILE STATE_FILE
set -u
source "$(dirname "$0")/lib.sh" "$1"
source "$(dirname "$0")/cluster/lib.sh" "$2"
command -v jq >/dev/null || skip "jq is not installed"
command -v tc >/dev/null || skip "tc is not installed (package iproute2)"
((CLUSTER_SIZE == 16 && ${CLUSTER_LEAVES:-1} == 4)) ||
  skip "the measuring checks need 16 hosts on 4 leaves, not $CLUSTER_SIZE on ${CLUSTER_LEAVES:-1}"
SWEEP=$CLUSTER_DIR/bin/exchange-sweep
PROBE=$CLUSTER_DIR/bin/exchange-probe
[[ -x $PROBE ]] || fail "cluster_up did not copy exchange-probe in"
timeout=10
# Four pairs at once, not the eight exchange alone takes here: eight Open
# MPI launches at once on these two cores starve the pairs measuring
# beside them, and a healthy pair then measured as little as a shaped one.
parallel=4
json=$CLUSTER_DIR/jobs/measure.json
busy=()
trap 'kill "${busy[@]}" 2>/dev/null; heal; rm -rf "$work"' EXIT

# sweep LAUNCH PATTERN COUNT [OPTIONS...]: one measuring sweep over node1
# to nodeCOUNT; its JSON in $json.
sweep() {
  sweep_over "$1" "$3" --pattern "$2" --timeout "$timeout" --parallel "$parallel" \
    --json "$json" --probe "$PROBE" "${@:4}"
}
# found: what was named, failed and slow, in one line to compare.
found() {
  jq -c '{failed: (.suspect_nodes + .suspect_links + .suspect_uplinks + .suspect_switches +
      .undetermined), slow_nodes, slow_links: (.slow_links | map(sort)), slow_uplinks,
      slow_everywhere}' "$json"
}
nothing='{"failed":[],"slow_nodes":[],"slow_links":[],"slow_uplinks":[],"slow_everywhere":null}'
# check LAUNCH PATTERN HOSTS STATUS FOUND [OPTIONS...]
check() {
  local launch=$1 pattern=$2 count=$3 status=$4 want=$5
  shift 5
  sweep "$launch" "$pattern" "$count" "$@"
  expect_found "$launch $pattern" "$status" "$want"
  expect_nothing_left
  echo "$launch $pattern over $count: status $rc after $seconds s; $(count slow) slow," \
    "$(count flaky) flaky, $(jq -c '.fabric | map_values({pairs, latency_us: (.latency_s * 1e6 | round),
      mb_s: (.bandwidth_bytes_per_s / 1e6 | round)})' "$json")"
}

# The three slow parts at once, side by side in the ring.
slow_host node6 10mbit
slow_path node1 node2 10mbit
slow_uplink 3 10mbit
parts='{"failed":[],"slow_nodes":["node6"],"slow_links":[["node1","node2"]],"slow_uplinks":["leaf3"],"slow_everywhere":null}'
check srun ring 16 1 "$parts"
(($(count failed) == 0)) || fail "a pair failed: $(verdicts)"
grep -qE '^node5-node6 +slow ' "$work/out" || fail "the table: $(grep node5-node6 "$work/out")"
check mpiexec ring 16 1 "$parts"
heal

# Under all, the slow path alone.
slow_path node1 node2 10mbit
link='{"failed":[],"slow_nodes":[],"slow_links":[["node1","node2"]],"slow_uplinks":[],"slow_everywhere":null}'
check srun all 8 1 "$link"
check mpiexec all 8 1 "$link"
heal

# Healthy, with both cores kept busy.
for _ in 1 2; do
  nice -n 0 sh -c 'while :; do :; done' &
  busy+=($!)
done
for launch in srun mpiexec srun; do
  check "$launch" ring 16 0 "$nothing"
done
kill "${busy[@]}"
busy=()
