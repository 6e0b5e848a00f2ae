#!/usr/bin/env bash
# exchange-sweep on the 16-host test cluster whose data network is a tree:
# four leaf switches of four hosts under a spine, Slurm's topology/tree
# told so. Inside an allocation (srun steps, the tree read from Slurm):
# healthy under ring and all; one dead host named alone under all; leaf2's
# uplink and leaf3 dead at once name that uplink and that switch; and
# draining, with two hosts dead under ring: a dry run changes nothing,
# --drain drains the dead host alone and leaves a node an admin drained
# with its own reason; every data link dead is a global fault that drains
# nothing. Under mpiexec with --topology the uplink and the leaf again. Every sweep's page holds every pair
# with its verdict (as headless Chromium renders it, where installed).
#   tree.sh LAUNCHER_FILE STATE_FILE
set -u
source "$(dirname "$0")/lib.sh" "$1"
source "$(dirname "$0")/cluster/lib.sh" "$2"
command -v jq >/dev/null || skip "jq is not installed"
((CLUSTER_SIZE == 16 && ${CLUSTER_LEAVES:-1} == 4)) ||
  skip "the tree's checks need 16 hosts on 4 leaves, not $CLUSTER_SIZE on ${CLUSTER_LEAVES:-1}"
SWEEP=$CLUSTER_DIR/bin/exchange-sweep
chromium=$(command -v chromium || command -v chromium-browser)
timeout=6
# What this 2-core machine carries: 8 pairs, 32 processes of the job.
parallel=8
nodes=node[1-16]
hosts=$(printf 'node%d,' {1..16})
hosts=${hosts%,}
json=$CLUSTER_DIR/jobs/tree.json
page=$CLUSTER_DIR/jobs/tree.html
trap 'heal; resume; rm -rf "$work"' EXIT
# The nodes this test drained, and the admin's, back in service.
resume() {
  local drained
  drained=$(on node1 sinfo --noheader --states=drain --format=%N)
  [[ -z $drained ]] || on node1 scontrol update NodeName="$drained" State=RESUME
}

# sweep LAUNCH PATTERN [OPTIONS...]: one sweep over the 16 hosts, by
# LAUNCH (mpiexec: --hosts and --topology; srun: inside an allocation,
# the tree from Slurm), its JSON and page in $json and $page, its table in
# $work/out, its status in rc. BEFORE, when set, runs inside the
# allocation first.
BEFORE=true
sweep() {
  local launch=$1 pattern=$2
  shift 2
  local args=(--pattern "$pattern" --timeout "$timeout" --parallel "$parallel"
    --json "$json" --html "$page" "$@" "$PROGRAM")
  rm -f "$json" "$page"
  begin=$SECONDS
  if [[ $launch == mpiexec ]]; then
    run on node1 "$SWEEP" --hosts "$hosts" --topology "$CLUSTER_DIR/topology.conf" "${args[@]}"
  else
    run on node1 salloc --quiet --nodelist="$nodes" --ntasks-per-node=1 --time=20 \
      bash -c "$BEFORE"' && exec "$@"' sweep "$SWEEP" "${args[@]}"
  fi
  seconds=$((SECONDS - begin))
}
# found: every list of suspects, in one line to compare.
found() {
  jq -c '{nodes: .suspect_nodes, links: .suspect_links, uplinks: .suspect_uplinks,
    switches: .suspect_switches, undetermined: .undetermined} | map_values(sort)' "$json"
}
nothing='{"nodes":[],"links":[],"uplinks":[],"switches":[],"undetermined":[]}'

# The page, as the browser builds it: a cell for every pair of the sweep
# (each twice, above and below the diagonal) with that pair's verdict.
check_page() {
  local dom=$work/dom.html
  [[ -s $page ]] || return 1
  if [[ -n $chromium ]]; then
    "$chromium" --headless --no-sandbox --disable-gpu --no-first-run \
      --disable-background-networking --disable-component-update \
      --user-data-dir="$work/profile" --dump-dom "file://$page" >"$dom" 2>/dev/null || return 1
  else
    cp "$page" "$dom"
  fi
  grep -o 'data-pair="[^"]*" data-verdict="[^"]*"' "$dom" | sort -u >"$work/cells"
  jq -r '.pairs[] | select(.confirmation | not) | "data-pair=\"\(.nodes | join("-"))\" data-verdict=\"\(.verdict)\""' "$json" |
    sort -u | comm -23 - "$work/cells" >"$work/missing"
  [[ ! -s $work/missing ]]
}

# check LAUNCH PATTERN STATUS FOUND [OPTIONS...]: one sweep, which must end
# with STATUS and find FOUND (as found prints it), leave nothing behind,
# and draw every pair.
check() {
  local launch=$1 pattern=$2 status=$3 want=$4
  shift 4
  sweep "$launch" "$pattern" "$@"
  expect_found "$launch $pattern" "$status" "$want"
  expect_nothing_left
  check_page || fail "$launch $pattern: the page lacks $(head -3 "$work/missing")"
  echo "$launch $pattern: status $rc after $seconds s, $(count failed) failed, $(count flaky) flaky," \
    "$(count exchanged-then-hung) exchanged then hung; found $(found)"
}
named() {
  local lists=$nothing
  while (($#)); do
    lists=$(jq -c --arg kind "$1" --arg what "$2" '.[$kind] = [$what]' <<<"$lists")
    shift 2
  done
  echo "$lists"
}

# The ring follows the tree: each leaf's nodes in a row, leaf after leaf.
check srun ring 0 "$nothing"
order=$(jq -r '[.pairs[] | select(.confirmation | not) | .nodes | join("-")] | join(" ")' "$json")
for pair in node4-node5 node8-node9 node12-node13; do
  [[ " $order " == *" $pair "* ]] || fail "the ring does not go from leaf to leaf by $pair: $order"
done
check srun all 0 "$nothing"

# A dead host among all pairs: its 15 pairs one after another. (The
# drain's sweeps below find it under ring.)
isolate node7
check srun all 1 "$(named nodes node7)" --retries 0
# Its picture, for a person to see the cross, beside the build's files.
if [[ -n $chromium ]]; then
  shot=$(dirname "$1")/tree-node7-dead.png
  "$chromium" --headless --no-sandbox --disable-gpu --no-first-run \
    --disable-background-networking --disable-component-update --user-data-dir="$work/profile" \
    --screenshot="$shot" --window-size=1000,700 "file://$page" >/dev/null 2>&1 && [[ -s $shot ]] ||
    fail "no screenshot of the page"
  echo "the page of all pairs with node7 dead: $shot"
fi
heal

# leaf2's uplink and leaf3 itself dead at once, side by side in the ring:
# the uplink and the switch, and none of the nodes behind them.
uplink_down 2
leaf_down 3
check srun ring 1 "$(named uplinks leaf2 switches leaf3)"
check mpiexec ring 1 "$(named uplinks leaf2 switches leaf3)"
heal

# Draining. node7 and node10 dead; node10 drained by an admin first.
state_of() {
  on node1 scontrol show node "$1" | grep -oE '(State|Reason)=[^ ]*( .*)?' | sed 's/^\(State=[^ ]*\).*/\1/' | tr '\n' ' '
}
isolate node7
isolate node10
admin_reason='admin: fan replaced, awaiting burn-in'
BEFORE="scontrol update NodeName=node10 State=DRAIN Reason='$admin_reason'"
check srun ring 1 "$(jq -c '.nodes = ["node10", "node7"]' <<<"$nothing")" --drain=dry-run
[[ $(jq -c '.drain | [.mode, [.drained[].node], [.left_alone[].node]]' "$json") == '["dry-run",["node7"],["node10"]]' ]] ||
  fail "the dry run would not drain node7 alone: $(jq -c .drain "$json")"
[[ $(state_of node7) != *DRAIN* ]] || fail "the dry run drained node7: $(state_of node7)"
# An allocation cannot take a drained node: the admin drains it again inside.
resume
check srun ring 1 "$(jq -c '.nodes = ["node10", "node7"]' <<<"$nothing")" --drain
[[ $(state_of node7) == *DRAIN*'Reason=exchange-sweep'* ]] || fail "node7 was not drained by the sweep: $(state_of node7)"
on node1 scontrol show node node10 | grep -qF "Reason=$admin_reason" ||
  fail "node10's reason is not the admin's: $(state_of node10)"
[[ $(jq -c '[.drain.drained[].node]' "$json") == '["node7"]' ]] ||
  fail "the JSON does not list node7 alone as drained: $(jq -c .drain "$json")"
echo "--drain: node7 $(state_of node7); node10 $(state_of node10)"
BEFORE=true
resume
heal

# Every data link dead: no pair passes, so no node is to blame.
for ((host = 1; host <= CLUSTER_SIZE; host++)); do interface_down "node$host"; done
check srun ring 3 "$nothing" --drain
[[ $(jq -c '.drain.drained' "$json") == '[]' ]] || fail "a global fault drained $(jq -c .drain "$json")"
[[ -z $(on node1 sinfo --noheader --states=drain --format=%N) ]] ||
  fail "drained on a global fault: $(on node1 sinfo --noheader --states=drain --format=%N)"
heal
