#!/usr/bin/env bash
# exchange-sweep's mesh on the 16-host test cluster: every pair of the
# pattern in one MPI job first (exchange-mesh), then a job a pair for what
# it did not pass, as srun steps inside an allocation (one step of one task
# a node) and under mpiexec with --topology. Healthy, all pairs of 8 hosts
# pass in the mesh; with the path between node1 and node2 dead, that link
# alone is named; with node7's data link dead, that host alone; with
# leaf3's uplink dead and node6's link at 10 Mbit/s, under ring over all
# 16, that uplink alone is suspect and that host alone slow. Each case
# under both launchers. Nothing is left running.
#   mesh.sh LAUNCHER_FILE STATE_FILE
set -u
source "$(dirname "$0")/lib.sh" "$1"
source "$(dirname "$0")/cluster/lib.sh" "$2"
command -v jq >/dev/null || skip "jq is not installed"
((CLUSTER_SIZE == 16 && ${CLUSTER_LEAVES:-1} == 4)) ||
  skip "the mesh's checks need 16 hosts on 4 leaves, not $CLUSTER_SIZE on ${CLUSTER_LEAVES:-1}"
SWEEP=$CLUSTER_DIR/bin/exchange-sweep
for program in exchange-probe exchange-mesh; do
  [[ -x $CLUSTER_DIR/bin/$program ]] || fail "cluster_up did not copy $program in"
done
timeout=10
json=$CLUSTER_DIR/jobs/mesh.json
trap 'heal; rm -rf "$work"' EXIT

# sweep LAUNCH PATTERN COUNT [OPTIONS...]: one sweep over node1 to
# nodeCOUNT with the mesh first; its JSON in $json.
sweep() {
  sweep_over "$1" "$3" --pattern "$2" --timeout "$timeout" --parallel 8 --json "$json" \
    --probe "$CLUSTER_DIR/bin/exchange-probe" --mesh "$CLUSTER_DIR/bin/exchange-mesh" "${@:4}"
}
found() {
  jq -c '{nodes: .suspect_nodes, links: (.suspect_links | map(sort)), uplinks: .suspect_uplinks,
    switches: .suspect_switches, undetermined, slow_nodes, slow_links: (.slow_links | map(sort)),
    slow_uplinks}' "$json"
}
nothing='{"nodes":[],"links":[],"uplinks":[],"switches":[],"undetermined":[],"slow_nodes":[],"slow_links":[],"slow_uplinks":[]}'
named() {
  local lists=$nothing
  while (($#)); do
    lists=$(jq -c --arg kind "$1" --argjson what "$2" '.[$kind] = $what' <<<"$lists")
    shift 2
  done
  echo "$lists"
}
# check LAUNCH PATTERN COUNT STATUS FOUND [OPTIONS...]; with $reported
# unset, the mesh need not have reported a pair (a library whose start
# waits on every host's data link never starts it).
check() {
  local launch=$1 pattern=$2 count=$3 status=$4 want=$5
  shift 5
  sweep "$launch" "$pattern" "$count" "$@"
  expect_found "$launch $pattern" "$status" "$want"
  jq -e --argjson least "${reported-0}" '.engine == "auto" and .mesh.problem == null and
    .mesh.pairs_reported >= $least' "$json" >/dev/null ||
    fail "$launch $pattern: the mesh: $(jq -c '.mesh' "$json")"
  expect_nothing_left
  echo "$launch $pattern over $count: status $rc after $seconds s; the mesh $(jq -c .mesh "$json");" \
    "$(jq '[.pairs[] | select(.attempts[0].engine == "mesh" and .attempts[0].verdict == "passed")] | length' "$json")" \
    "pairs passed in it"
}

for launch in srun mpiexec; do
  # Healthy: every pair of all passes in the mesh itself.
  reported=56 check "$launch" all 8 0 "$nothing"
  in_mesh=$(jq '[.pairs[] | select(.attempts[0].engine == "mesh" and
    (.attempts[0].verdict == "passed" or .attempts[0].verdict == "slow"))] | length' "$json")
  ((in_mesh == 28)) || fail "$launch: $in_mesh of 28 pairs exchanged in the mesh: $(verdicts)"

  # One path dead: that link alone. The mesh may report none of it: MPICH
  # 4.0 holds both ends of the path in MPI_Init, MPICH 4.2 every rank.
  # No tries again: the mesh's try and a job's, or a job's and its
  # confirmation, are the evidence, and each try of a dead pair waits out
  # its bound (the sweep's retries are the scenarios' and the tree's).
  blackhole node1 node2
  check "$launch" all 8 1 "$(named links '[["node1","node2"]]')" --retries 0
  heal

  # One host's data link dead: named, by the mesh or by the jobs a pair.
  isolate node7
  check "$launch" ring 8 1 "$(named nodes '["node7"]')" --retries 0
  heal

  uplink_down 3
  slow_host node6 10mbit
  check "$launch" ring 16 1 "$(named uplinks '["leaf3"]' slow_nodes '["node6"]')"
  heal
done
