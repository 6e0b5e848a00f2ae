#!/usr/bin/env bash
# exchange-sweep against stand-in hosts, one scenario a call: under
# Hydra (mpiexec.mpich with a stand-in ssh, the ranks a stand-in exchange)
# or inside a stand-in Slurm allocation (a stand-in srun, squeue, scancel
# and scontrol). Each checks the verdicts, the suspects, the report keys
# and the exit status.
#   scenarios.sh SWEEP STANDIN_BIN SCENARIO
set -u
sweep=$1
bin=$2
scenario=$3
command -v jq >/dev/null || { echo "SKIP: jq is not installed"; exit 77; }
work=$(mktemp -d)
export STANDIN_DIR=$work
mkdir "$work/steps"
: >"$work/scenario"
: >"$work/ssh.log"
: >"$work/scancel.log"
: >"$work/squeue.log"
standin=$(readlink -f "$bin/srun")
# ours PID: whether process PID belongs to this scenario (other scenarios
# may run beside it). Builtins only, as these are called in loops that
# must keep up with the sweep on a loaded machine.
ours() {
  local entry
  while IFS= read -r -d '' entry; do
    [[ $entry == "STANDIN_DIR=$work" ]] && return 0
  done 2>/dev/null <"/proc/$1/environ"
  return 1
}
# leftovers: the pids of this scenario's stand-ins, and of Hydra's
# processes for them, still running.
leftovers() {
  local proc comm
  for proc in /proc/[0-9]*; do
    comm=
    read -r comm 2>/dev/null <"$proc/comm"
    if [[ $proc/exe -ef $standin || $comm == @(hydra_pmi_proxy|mpiexec.hydra) ]] &&
      ours "${proc#/proc/}"; then
      echo "${proc#/proc/}"
    fi
  done
}
# sweep_pid: the pid of this scenario's sweep.
sweep_pid() {
  local proc
  for proc in /proc/[0-9]*; do
    [[ $proc/exe -ef $sweep ]] && ours "${proc#/proc/}" && echo "${proc#/proc/}" && return
  done
}
# await_pairs: until this scenario's sweep is running a pair, at most 30 s;
# the sweep's pid in pid.
await_pairs() {
  local until=$((SECONDS + 30))
  while ((SECONDS < until)); do
    pid=$(sweep_pid)
    [[ -n $pid && -n $(leftovers) ]] && return 0
    sleep 0.05
  done
  fail "no pair of the sweep was seen running"
}
cleanup() {
  leftovers | xargs -r kill -9 2>/dev/null
  for step in "$work"/steps/*; do
    [[ -e $step ]] && read -r _ _ pid <"$step" && kill -9 "$pid" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT
json=$work/sweep.json
junit=$work/sweep.xml
hosts=n1,n2,n3,n4,n5,n6

fail() {
  echo "FAIL: $scenario: $*"
  echo "--- status ${rc-}; table:"
  cat "$work/out"
  echo "--- stderr:"
  cat "$work/err"
  [[ -s $json ]] && jq -c '.pairs[] | [.nodes, .verdict, .reason]' "$json"
  exit 1
}
rule() { echo "$*" >>"$work/scenario"; }

# hydra|slurm [SWEEP_ARGS...]: the sweep of $hosts, its status in rc.
run_sweep() {
  local mode=$1
  shift
  local start=$SECONDS
  # The exchange stand-in, unless the sweep is to run the probe.
  local program=("$bin/exchange")
  [[ " $* " == *" --probe "* ]] && program=()
  if [[ $mode == hydra ]]; then
    command -v mpiexec.mpich >/dev/null || { echo "SKIP: no mpiexec.mpich"; exit 77; }
    HYDRA_LAUNCHER=ssh HYDRA_LAUNCHER_EXEC=$bin/ssh \
      "${wrap[@]}" "$sweep" --mpi mpich --timeout "$bound" --hosts "$hosts" \
      --json "$json" --junit "$junit" "$@" "${program[@]}" \
      >"$work/out" 2>"$work/err"
  else
    PATH=$bin:$PATH SLURM_JOB_ID=42 SLURM_JOB_NODELIST="n[1-${hosts##*n}]" \
      "${wrap[@]}" "$sweep" --mpi mpich --timeout "$bound" \
      --json "$json" --junit "$junit" "$@" "${program[@]}" \
      >"$work/out" 2>"$work/err"
  fi
  rc=$?
  echo "$rc" >"$work/rc"
  seconds=$((SECONDS - start))
}
wrap=(timeout -k 5 120)
bound=1

# expect STATUS SUSPECTS LINKS [UNDETERMINED]: the JSON, in jq's compact
# form, and the status; every report parses, every pattern pair is there.
expect() {
  ((rc == $1)) || fail "status $rc, not $1"
  [[ -s $json ]] || fail "no JSON"
  [[ $(jq -c .suspect_nodes "$json") == "$2" ]] || fail "suspects $(jq -c .suspect_nodes "$json"), not $2"
  [[ $(jq -c '.suspect_links | map(sort)' "$json") == "$3" ]] || fail "links $(jq -c .suspect_links "$json"), not $3"
  [[ $(jq -c .undetermined "$json") == "${4:-[]}" ]] || fail "undetermined $(jq -c .undetermined "$json")"
  for key in complete global_fault undetermined suspect_nodes suspect_links counts usage; do
    jq -e "has(\"$key\")" "$json" >/dev/null || fail "no \"$key\" in the JSON"
  done
  jq -e '[.pairs[] | select(.attempts | length > 0)] | length > 0' "$json" >/dev/null ||
    fail "no pair has its attempts"
  [[ $(jq '[.pairs[] | select(.confirmation | not)] | length' "$json") == "$(tr -cd , <<<"$hosts" | wc -c | awk '{print $1 + 1}')" ]] ||
    fail "the pattern's pairs are not all in the JSON"
  grep -q '<testsuites' "$junit" || fail "no JUnit report"
}
verdict() {
  jq -r --arg p "$1" '.pairs[] | select((.nodes | join("-")) == $p) | .verdict' "$json"
}
count_verdict() {
  jq "[.pairs[] | select(.verdict == \"$1\")] | length" "$json"
}
# nothing_left: no stand-in of this scenario is still running; Hydra may
# take a few seconds to take down the ranks of a job it was told to end.
nothing_left() {
  local left
  for _ in {1..50}; do
    left=$(leftovers)
    [[ -z $left ]] && return
    sleep 0.1
  done
  fail "left running: $(for pid in $left; do tr '\0' ' ' <"/proc/$pid/cmdline"; echo; done)"
}

case $scenario in
dead_host)
  rule dead n3
  for mode in hydra slurm; do
    run_sweep $mode
    expect 1 '["n3"]' '[]'
    [[ $(verdict n2-n3) == failed && $(verdict n1-n2) == passed ]] || fail "$mode: verdicts"
    jq -e '.complete and (.global_fault == null)' "$json" >/dev/null || fail "$mode: complete, no global fault"
    jq -e '[.pairs[] | select(.confirmation and (.nodes[0] == "n3"))] | length == 1' "$json" >/dev/null ||
      fail "$mode: n3 was not confirmed with a known-good partner"
    nothing_left
    echo "$mode: n3 named alone after $seconds s"
  done
  ;;
dead_neighbours)
  rule dead n3
  rule dead n4
  run_sweep slurm
  expect 1 '["n3","n4"]' '[]'
  ;;
dead_apart)
  rule dead n2
  rule dead n5
  run_sweep hydra
  expect 1 '["n2","n5"]' '[]'
  ;;
dead_link)
  rule link n1 n2
  for mode in hydra slurm; do
    run_sweep $mode
    expect 1 '[]' '[["n1","n2"]]'
  done
  ;;
flaky)
  rule flaky n2 n3 1
  run_sweep hydra
  expect 0 '[]' '[]'
  [[ $(verdict n2-n3) == flaky ]] || fail "n2-n3 is $(verdict n2-n3), not flaky"
  grep -q '^6 pairs: 5 passed, 0 failed, 1 flaky' "$work/out" || fail "the summary does not count it"
  ;;
hang_once)
  # Both lines, then no exit, once: tried again, it passes.
  rule hang n4 n5 1
  run_sweep slurm
  expect 0 '[]' '[]'
  [[ $(verdict n4-n5) == flaky ]] || fail "n4-n5 is $(verdict n4-n5)"
  jq -e '.pairs[] | select(.nodes == ["n4","n5"]) | .attempts[0].verdict == "exchanged-then-hung"' \
    "$json" >/dev/null || fail "its first try is not exchanged-then-hung"
  ;;
hang_always)
  rule hang n4 n5 0
  run_sweep hydra
  expect 0 '[]' '[]'
  [[ $(verdict n4-n5) == exchanged-then-hung ]] || fail "n4-n5 is $(verdict n4-n5)"
  ;;
all_fail)
  for node in n1 n2 n3 n4 n5 n6; do rule refuse "$node"; done
  run_sweep hydra
  expect 3 '[]' '[]'
  jq -e '.global_fault | test("no pair passed.*refused")' "$json" >/dev/null || fail "global fault: $(jq .global_fault "$json")"
  grep -q '^global fault: ' "$work/out" || fail "the table does not say so"
  ! grep -q '^suspect nodes' "$work/out" || fail "the table names suspects"
  ;;
latin1)
  rule latin1 n1 n2
  run_sweep hydra
  expect 1 '[]' '[["n1","n2"]]'
  ! LC_ALL=C grep -q $'[\x01-\x08\x0b-\x1f\x7f]' "$work/out" || fail "control characters reach the table"
  iconv -f UTF-8 -t UTF-8 "$work/out" >/dev/null || fail "the table is not UTF-8"
  jq -e '.pairs[0].reason | test("chec de connexion")' "$json" >/dev/null || fail "reason: $(jq .pairs[0].reason "$json")"
  ;;
flood)
  rule flood n1 n2 268435456
  run_sweep slurm
  expect 1 '[]' '[["n1","n2"]]'
  rss=$(jq .usage.max_rss_kib "$json")
  ((rss < 32768)) || fail "the sweep grew to $rss KiB reading 256 MiB"
  echo "256 MiB of output: the sweep's peak resident memory $rss KiB"
  ;;
sigchld_ignored)
  hosts=n1,n2,n3,n4
  wrap=(timeout -k 5 60 bash -c 'trap "" CHLD; exec "$@"' ignoring)
  run_sweep hydra
  ((rc != 124)) || fail "still running after 60 s"
  expect 0 '[]' '[]'
  ;;
interrupted)
  # A signal in the first round: the jobs end, every report is written,
  # and what was cut short or never ran is not-run and blamed on no one.
  # Every pair takes longer than the signal takes to come, and less than
  # its bound.
  rule delay 10
  rule dead n3
  bound=20
  for case in "hydra INT" "slurm TERM" "hydra HUP"; do
    read -r mode signal <<<"$case"
    rm -f "$json" "$junit" "$work"/steps/* "$work"/tries.*
    run_sweep "$mode" &
    runner=$!
    await_pairs
    sleep 0.3
    start=$SECONDS
    kill -"$signal" "$pid"
    wait "$runner"
    rc=$(<"$work/rc")
    want=$((128 + $(kill -l "$signal")))
    ((rc == want)) || fail "$case: status $rc, not $want"
    ((SECONDS - start <= 5)) || fail "$case: it took $((SECONDS - start)) s to end"
    [[ -s $json ]] || fail "$case: no JSON"
    jq -e '.complete == false and .passed == false' "$json" >/dev/null || fail "$case: complete or passed"
    [[ $(jq '.pairs | length' "$json") == 6 ]] || fail "$case: not every pair is in the JSON"
    [[ $(jq '[.pairs[] | select(.verdict == "not-run")] | length' "$json") == 6 ]] ||
      fail "$case: the pairs cut short or never run are not all not-run"
    [[ $(jq -c '.suspect_nodes + .undetermined + .suspect_links' "$json") == '[]' ]] ||
      fail "$case: blamed what was cut short"
    # Every pair, and the findings: nothing was confirmed.
    [[ $(grep -c '<skipped' "$junit") == 7 ]] || fail "$case: JUnit does not skip them"
    grep -q "^incomplete: interrupted by SIG$signal" "$work/out" || fail "$case: the table does not say so"
    nothing_left
    echo "$case: status $rc, ended $((SECONDS - start)) s after the signal"
  done
  ;;
interrupted_named)
  # Signalled after the pattern has pointed at n3 but before its tries
  # again and its confirmation: nothing is confirmed, so n3 is undetermined
  # in every report, not a suspect in some of them.
  rule dead n3
  bound=2
  run_sweep slurm --html "$work/page.html" &
  runner=$!
  for _ in {1..200}; do
    grep -q '^round 2 ' "$work/err" 2>/dev/null && break
    sleep 0.05
  done
  pid=$(sweep_pid)
  kill -TERM "$pid"
  wait "$runner"
  rc=$(<"$work/rc")
  ((rc == 143)) || fail "status $rc, not 143"
  [[ $(jq -c '[.suspect_nodes, .undetermined, .complete]' "$json") == '[[],["n3"],false]' ]] ||
    fail "the JSON: $(jq -c '[.suspect_nodes, .undetermined, .complete]' "$json")"
  grep -qx 'suspect nodes: none' "$work/out" && grep -qx 'undetermined: n3' "$work/out" ||
    fail "the table names a suspect"
  ! grep -q 'class="node suspect"' "$work/page.html" || fail "the page marks a suspect"
  grep -q 'name="n3"' "$junit" && grep -q 'classname="exchange-sweep.undetermined"' "$junit" ||
    fail "JUnit: $(grep -c testcase "$junit") cases"
  nothing_left
  ;;
grace)
  # Slurm allows KillWait (30 s) after its SIGTERM: every report is on
  # disk at once, before the stubborn steps are ended, and they are.
  rule stubborn
  rule delay 20
  bound=30
  run_sweep slurm --html "$work/page.html" &
  runner=$!
  await_pairs
  sleep 0.5
  signalled=${EPOCHREALTIME/./}
  kill -TERM "$pid"
  for _ in {1..100}; do
    [[ -s $json && -s $junit && -s $work/page.html && -s $work/out ]] && break
    sleep 0.02
  done
  written=$(((${EPOCHREALTIME/./} - signalled) / 1000))
  [[ -s $json && -s $junit && -s $work/page.html ]] || fail "no reports 2 s after the signal"
  kill -0 "$pid" 2>/dev/null || fail "the sweep ended its steps before it wrote its reports"
  ((written < 2000)) || fail "the reports took $written ms"
  wait "$runner"
  rc=$(<"$work/rc")
  ended=$(((${EPOCHREALTIME/./} - signalled) / 1000))
  ((rc == 143)) || fail "status $rc"
  [[ $(jq '[.pairs[] | select(.verdict == "not-run")] | length' "$json") == 6 ]] || fail "not every pair is not-run"
  nothing_left
  [[ -z $(find "$work/steps" -type f) ]] || fail "steps left: $(ls "$work/steps")"
  echo "reports written $written ms after SIGTERM; the stubborn steps ended after $ended ms"
  ;;
reports_alone)
  # A report that cannot be written is named, and the others are written:
  # the JSON's folder gone midway, and standard output full.
  rule delay 0.5
  mkdir "$work/gone"
  json=$work/gone/sweep.json
  run_sweep hydra --html "$work/page.html" &
  runner=$!
  sleep 0.3
  rm -rf "$work/gone"
  wait "$runner"
  rc=$(<"$work/rc")
  ((rc == 4)) || fail "status $rc, not 4"
  grep -q "^exchange-sweep: report lost: cannot write $work/gone/sweep.json: No such file or directory" "$work/err" ||
    fail "the lost report is not named: $(cat "$work/err")"
  grep -q '<testsuites' "$junit" && grep -q 'data-pair=' "$work/page.html" || fail "the others were not written"
  grep -q '^6 pairs: 6 passed' "$work/out" || fail "no table"
  # With a finding, the status is the finding's.
  rule dead n3
  mkdir "$work/gone"
  run_sweep hydra &
  runner=$!
  sleep 0.3
  rm -rf "$work/gone"
  wait "$runner"
  rc=$(<"$work/rc")
  ((rc == 1)) || fail "with n3 dead: status $rc, not 1"
  # Standard output full: the table is lost, the JSON is not.
  json=$work/sweep.json
  : >"$work/scenario"
  rm -f "$work"/tries.*
  HYDRA_LAUNCHER=ssh HYDRA_LAUNCHER_EXEC=$bin/ssh "$sweep" --mpi mpich --timeout 1 --hosts "$hosts" \
    --json "$json" "$bin/exchange" >/dev/full 2>"$work/err"
  rc=$?
  ((rc == 4)) || fail "stdout full: status $rc"
  grep -q '^exchange-sweep: report lost: the table: cannot write standard output: No space left on device' "$work/err" ||
    fail "stdout full: $(cat "$work/err")"
  jq -e '.passed' "$json" >/dev/null || fail "stdout full: no JSON"
  ;;
steps_sure)
  # A scancel that fails is tried again until the step is gone; a step
  # that never goes is reported, in the table and the JSON.
  rule stubborn
  rule link n1 n2
  rule "scancel_fails 1"
  hosts=n1,n2,n3,n4
  run_sweep slurm --retries 0
  ((rc == 1)) || fail "status $rc"
  (($(grep -c 42 "$work/scancel.log") == 2)) || fail "scancel: $(cat "$work/scancel.log")"
  [[ -z $(find "$work/steps" -type f) ]] || fail "a step is left: $(ls "$work/steps")"
  [[ $(jq -c .stuck_steps "$json") == '[]' ]] || fail "stuck: $(jq -c .stuck_steps "$json")"
  : >"$work/scenario"
  rule stubborn
  rule link n1 n2
  rule immortal
  : >"$work/scancel.log"
  rm -f "$work"/tries.*
  run_sweep slurm --retries 0
  jq -e '.stuck_steps | length == 1 and (.[0] | test("^exchange-sweep\\.[0-9a-f]{16}\\.1: not seen gone 30 s"))' \
    "$json" >/dev/null || fail "stuck: $(jq -c .stuck_steps "$json")"
  grep -q '^step that would not go: exchange-sweep\.' "$work/out" || fail "the table does not say so"
  ((seconds <= 1 + 3 + 30 + 15)) || fail "it took $seconds s"
  find "$work/steps" -type f -delete
  ;;
verbose)
  # Every command the sweep starts, and each pair's start and end.
  rule link n1 n2
  run_sweep slurm --verbose --retries 0
  grep -qE '^exchange-sweep: [0-9]+\.[0-9]{3} s: start srun --mpi=pmi2 --nodes=2 .*--nodelist=n1,n2 .*--job-name=exchange-sweep\.[0-9a-f]{16}\.[0-9]+ ' \
    "$work/err" || fail "no srun line: $(head -5 "$work/err")"
  grep -qE '^exchange-sweep: [0-9.]+ s: pair n1-n2: started$' "$work/err" || fail "no start"
  grep -qE '^exchange-sweep: [0-9.]+ s: pair n1-n2: timed out$' "$work/err" || fail "no bound"
  grep -qE '^exchange-sweep: [0-9.]+ s: pair n3-n4: ended after [0-9.]+ s, status 0$' "$work/err" || fail "no end"
  grep -qE '^exchange-sweep: [0-9.]+ s: start squeue --noheader --steps --jobs=42 ' "$work/err" || fail "no squeue line"
  # Quoted as a shell reads it back.
  run_sweep hydra --verbose
  grep -qE "^exchange-sweep: [0-9.]+ s: start mpiexec.mpich -hosts n1,n2 -ppn 1 -n 2 $bin/exchange \\(pid [0-9]+\\)$" "$work/err" ||
    fail "no mpiexec line: $(grep start "$work/err" | head -3)"
  ;;
duplicates)
  # Host names are case-insensitive: one entry a host, its first spelling.
  hosts=n1,N1,n2,n3,N2
  run_sweep hydra
  ((rc == 0)) || fail "status $rc"
  [[ $(jq -c '[.duplicate_hosts, (.pairs | length)]' "$json") == '[["N1","N2"],3]' ]] ||
    fail "$(jq -c '[.duplicate_hosts, [.pairs[].nodes]]' "$json")"
  [[ $(grep -c 'is named again' "$work/err") == 2 ]] || fail "$(cat "$work/err")"
  ;;
worst_case)
  # Every pair hangs after the exchange and srun ignores SIGTERM: the sweep
  # still ends within the worst case it reports and --worst-case prints.
  rule stubborn
  for pair in "n1 n2" "n2 n3" "n3 n4" "n4 n5" "n5 n6" "n6 n1"; do rule "hang $pair 0"; done
  run_sweep slurm
  ((rc == 3)) || fail "status $rc"
  (($(count_verdict exchanged-then-hung) == 6)) || fail "not every pair hung"
  jq -e '.usage.wall_seconds <= .worst_case_seconds' "$json" >/dev/null ||
    fail "$(jq -c '[.usage.wall_seconds, .worst_case_seconds]' "$json")"
  minutes=$(PATH=$bin:$PATH SLURM_JOB_ID=42 SLURM_JOB_NODELIST="n[1-6]" "$sweep" --timeout "$bound" --worst-case 6)
  jq -e --argjson m "$minutes" '.worst_case_seconds <= $m * 60' "$json" >/dev/null ||
    fail "--worst-case prints $minutes min: $(jq .worst_case_seconds "$json")"
  echo "every pair hung: $(jq .usage.wall_seconds "$json") s of at most $(jq .worst_case_seconds "$json") s"
  ;;
measure_node)
  # One host's link at 10 Mbit/s among 16: that host alone is slow, with
  # its figure against the median, in every report; --drain-slow drains it.
  rule "slow n6 1250000"
  hosts=$(seq -f 'n%g' -s , 1 16)
  run_sweep slurm --probe "$bin/exchange-probe" --html "$work/page.html" --drain --drain-slow
  ((rc == 1)) || fail "status $rc"
  [[ $(jq -c '[.slow_nodes, .slow_links, .suspect_nodes, .undetermined]' "$json") == '[["n6"],[],[],[]]' ]] ||
    fail "$(jq -c '[.slow_nodes, .slow_links, .suspect_nodes, .undetermined]' "$json")"
  jq -e '.measured and .fabric.all.pairs == 14 and (.fabric.all.bandwidth_bytes_per_s > 9e8) and
    ([.pairs[].attempts[] | select(.latency_s == null)] | length == 0)' "$json" >/dev/null ||
    fail "figures: $(jq -c '.fabric' "$json")"
  grep -qE '^n5-n6 +slow .* 1\.2 MB/s +slow: bandwidth 1\.2 MB/s against [0-9.]+ MB/s, the median of the faster half' "$work/out" ||
    fail "the table: $(grep n5-n6 "$work/out")"
  grep -qx 'slow nodes: n6' "$work/out" && grep -q '^fabric: 14 pairs, median latency' "$work/out" ||
    fail "the table's end"
  [[ $(sed -n 1p "$work/drains.log") == n6 && $(sed -n 3p "$work/drains.log") == 'exchange-sweep: slow with '*'MB/s against '*' MB/s, the median of the faster half'* ]] ||
    fail "drained: $(cat "$work/drains.log")"
  grep -q 'class="heat"' "$work/page.html" && grep -q 'data-pair="n5-n6" data-verdict="slow"' "$work/page.html" ||
    fail "the page has no heat map"
  grep -q 'classname="exchange-sweep.slow-node" name="n6"' "$junit" || fail "JUnit does not fail n6"
  # Exchange alone, the same sweep sees nothing.
  rm -f "$work"/tries.*
  run_sweep slurm
  ((rc == 0)) && jq -e '(.measured | not) and .slow_nodes == [] and .fabric == null' "$json" >/dev/null ||
    fail "exchange alone: status $rc"
  ;;
measure_parts)
  # One path slow under all: that link alone. A leaf's uplink slow under
  # its tree: that uplink alone. A dead host and a slow one: each named
  # once, as what it is. Hydra's pairs, up to eight at once, each through a
  # stand-in ssh, take more than a second on a loaded machine.
  bound=3
  rule "slowlink n2 n5 1000000"
  hosts=n1,n2,n3,n4,n5,n6,n7,n8
  run_sweep hydra --probe "$bin/exchange-probe" --pattern all
  ((rc == 1)) && [[ $(jq -c '[.slow_links, .slow_nodes] | map(map(if type == "array" then sort else . end))' "$json") == '[[["n2","n5"]],[]]' ]] ||
    fail "the slow link: status $rc, $(jq -c '[.slow_links, .slow_nodes]' "$json")"
  : >"$work/scenario"
  rule "slowacross 1000000 n5 n6 n7 n8"
  printf 'SwitchName=leaf%d Nodes=n[%d-%d]\n' 1 1 4 2 5 8 3 9 12 4 13 16 >"$work/topology.conf"
  echo 'SwitchName=spine Switches=leaf[1-4]' >>"$work/topology.conf"
  hosts=$(seq -f 'n%g' -s , 1 16)
  rm -f "$work"/tries.*
  run_sweep hydra --probe "$bin/exchange-probe" --topology "$work/topology.conf"
  ((rc == 1)) && [[ $(jq -c '[.slow_uplinks, .slow_links, .slow_nodes]' "$json") == '[["leaf2"],[],[]]' ]] ||
    fail "the slow uplink: status $rc, $(jq -c '[.slow_uplinks, .slow_links, .slow_nodes]' "$json")"
  jq -e '.fabric | has("inside") and has("across")' "$json" >/dev/null || fail "fabric: $(jq -c .fabric "$json")"
  grep -qx 'slow uplinks: leaf2' "$work/out" || fail "the table does not name leaf2"
  : >"$work/scenario"
  rule "dead n3"
  rule "slow n3 1000000"
  rule "slow n9 1000000"
  rm -f "$work"/tries.*
  run_sweep slurm --probe "$bin/exchange-probe"
  ((rc == 1)) && [[ $(jq -c '[.suspect_nodes, .slow_nodes, .undetermined]' "$json") == '[["n3"],["n9"],[]]' ]] ||
    fail "dead and slow: status $rc, $(jq -c '[.suspect_nodes, .slow_nodes, .undetermined]' "$json")"
  ;;
measure_steady)
  # A healthy fabric whose figures scatter by 30% names nothing slow; a
  # pair slow once is tried again and is not slow; absolute limits hold
  # whatever the median, and below them everywhere the fabric is slow.
  rule "jitter 0.3"
  rule "slow_once n3 n4 1000000"
  hosts=$(seq -f 'n%g' -s , 1 16)
  run_sweep slurm --probe "$bin/exchange-probe"
  ((rc == 0)) || fail "noise: status $rc: $(jq -c '[.slow_nodes, .slow_links]' "$json")"
  [[ $(verdict n3-n4) == passed ]] || fail "n3-n4 is $(verdict n3-n4)"
  jq -e '.pairs[] | select(.nodes == ["n3","n4"]) | .attempts[0].verdict == "slow"' "$json" >/dev/null ||
    fail "n3-n4's first try was not slow"
  : >"$work/scenario"
  rule "lag n7 0.001"
  rm -f "$work"/tries.*
  run_sweep slurm --probe "$bin/exchange-probe" --max-latency 0.0005
  [[ $(jq -c .slow_nodes "$json") == '["n7"]' ]] || fail "--max-latency: $(jq -c .slow_nodes "$json")"
  rm -f "$work"/tries.*
  run_sweep slurm --probe "$bin/exchange-probe" --min-bandwidth 2e9
  ((rc == 1)) && jq -e '.slow_everywhere | test("the fabric")' "$json" >/dev/null ||
    fail "--min-bandwidth: status $rc, $(jq -c '[.slow_everywhere, .slow_nodes]' "$json")"
  ;;
mesh_reading)
  # The mesh's lines as a launcher may hand them over: ranks mixed, a line
  # cut short into the next, the job dead halfway, ranks not where the
  # sweep named them. What the mesh did not pass runs as jobs of their own;
  # nothing is lost, and a line that could not be read is counted.
  mesh=(--probe "$bin/exchange-probe" --mesh "$bin/exchange-mesh")
  hosts=$(seq -f 'n%g' -s , 1 16)
  for case in "all|mesh_shuffle;dead n6|120" "ring|mesh_cut 24;dead n6|16" "ring|mesh_die 30;dead n6|16"; do
    IFS='|' read -r pattern rules pairs <<<"$case"
    tr ';' '\n' <<<"$rules" >"$work/scenario"
    rm -f "$work"/tries.*
    run_sweep slurm "${mesh[@]}" --pattern "$pattern"
    ((rc == 1)) && [[ $(jq -c '[.suspect_nodes, .undetermined, .suspect_links]' "$json") == '[["n6"],[],[]]' ]] ||
      fail "$rules: status $rc, $(jq -c '[.suspect_nodes, .undetermined, .suspect_links]' "$json")"
    [[ $(jq '[.pairs[] | select(.confirmation | not)] | length' "$json") == "$pairs" ]] || fail "$rules: pairs lost"
    jq -e '.engine == "auto" and .mesh.pairs_reported > 0 and ([.pairs[].attempts[0].engine] | index("mesh") != null)' \
      "$json" >/dev/null || fail "$rules: $(jq -c '[.engine, .mesh]' "$json")"
    case $rules in
    mesh_cut*) jq -e '.mesh.lines_unreadable == 1' "$json" >/dev/null || fail "the cut line: $(jq -c .mesh "$json")" ;;
    mesh_die*)
      # What the dead job did not report ran as jobs of their own.
      (($(jq '[.pairs[] | select(.attempts[0].engine == "pairs")] | length' "$json") > 5)) ||
        fail "the unreported pairs: $(jq -c .mesh "$json")"
      ;;
    esac
    grep -q '^engine: auto, every pair in one job' "$work/out" || fail "$rules: the table does not say the engine"
  done
  # Ranks where the sweep did not name them: the mesh is trusted for
  # nothing, and every pair runs as a job of its own.
  printf '%s\n' mesh_misplace >"$work/scenario"
  rm -f "$work"/tries.*
  run_sweep slurm "${mesh[@]}"
  ((rc == 0)) && jq -e '(.mesh.problem | test("rank 1 ran on elsewhere")) and
    ([.pairs[].attempts[] | select(.engine == "mesh")] | length == 0)' "$json" >/dev/null ||
    fail "misplaced: status $rc, $(jq -c .mesh "$json")"
  # The mesh alone: what it did not report is undetermined.
  printf '%s\n' "mesh_die 10" >"$work/scenario"
  rm -f "$work"/tries.*
  run_sweep slurm "${mesh[@]}" --engine mesh
  ((rc == 1)) && jq -e '.engine == "mesh" and (.undetermined | length > 0) and .counts["not-run"] > 0 and
    ([.pairs[].attempts[] | select(.engine == "pairs")] | length == 0)' "$json" >/dev/null ||
    fail "the mesh alone: status $rc, $(jq -c '[.counts, .undetermined]' "$json")"
  ;;
mesh_start)
  # A mesh held in its start (a rank that never joins says nothing, and
  # the others report no pair): ended at its start bound, about 20 s, its
  # pairs run as jobs of their own. One that reports pairs while a rank is
  # missing keeps its own bound (about 33 s here), unless every rank that
  # joined has said its last. One that said all it will is not waited for.
  mesh=(--probe "$bin/exchange-probe" --mesh "$bin/exchange-mesh")
  hosts=$(seq -f 'n%g' -s , 1 16)
  printf '%s\n' "mesh_unseen 3" "mesh_stall 15" >"$work/scenario"
  run_sweep slurm "${mesh[@]}"
  ((rc == 0)) && jq -e '.mesh.pairs_reported == 0 and .mesh.seconds >= 19 and .mesh.seconds < 27 and
    ([.pairs[] | select(.attempts[0].engine == "pairs")] | length == 16)' "$json" >/dev/null ||
    fail "held in its start: status $rc, $(jq -c .mesh "$json")"
  printf '%s\n' "mesh_unseen 3" "mesh_stall 20" >"$work/scenario"
  rm -f "$work"/tries.*
  run_sweep slurm "${mesh[@]}"
  ((rc == 0)) && jq -e '.mesh.pairs_reported == 5 and .mesh.seconds > 30 and .usage.wall_seconds <= .worst_case_seconds' \
    "$json" >/dev/null || fail "a rank missing: status $rc, $(jq -c '[.mesh, .usage, .worst_case_seconds]' "$json")"
  # Every rank that joined said its last, one never did: ended at the
  # start bound, not at its own; the missing rank's pairs run on their own.
  printf '%s\n' "mesh_unseen 3" mesh_linger >"$work/scenario"
  rm -f "$work"/tries.*
  run_sweep slurm "${mesh[@]}"
  ((rc == 0)) && jq -e '.mesh.pairs_reported == 30 and .mesh.seconds >= 19 and .mesh.seconds < 27 and
    ([.pairs[] | select(.attempts[0].engine == "pairs") | .nodes | index("n4")] | length == 2)' "$json" >/dev/null ||
    fail "one never joined: status $rc, $(jq -c .mesh "$json")"
  # A mesh that said every line, its launcher still there: ended at once,
  # every pair its own.
  printf '%s\n' mesh_linger >"$work/scenario"
  rm -f "$work"/tries.*
  run_sweep slurm "${mesh[@]}"
  ((rc == 0)) && jq -e '.mesh.pairs_reported == 32 and .mesh.seconds < 10 and
    ([.pairs[] | select(.attempts[0].engine == "mesh")] | length == 16)' "$json" >/dev/null ||
    fail "lingering: status $rc, $(jq -c .mesh "$json")"
  ;;
mesh_scale)
  # The mesh's lines of a ring of 4,096 nodes, with a dead one, and of all
  # pairs of 1,024, read in bounded time and memory.
  mesh=(--probe "$bin/exchange-probe" --mesh "$bin/exchange-mesh")
  echo "dead n2000" >"$work/scenario"
  hosts=$(seq -f 'n%g' -s , 1 4096)
  run_sweep slurm "${mesh[@]}"
  ((rc == 1)) && [[ $(jq -c '[.suspect_nodes, .undetermined]' "$json") == '[["n2000"],[]]' ]] ||
    fail "4096 ring: status $rc, $(jq -c '[.suspect_nodes, .undetermined]' "$json")"
  # ASan's shadow and quarantine take about as much again as the sweep.
  room=1
  [[ ${EXCHANGE_SANITIZED:-0} == 1 ]] && room=4
  jq -e --argjson most $((262144 * room)) \
    '.mesh.pairs_reported == 8192 and .mesh.lines_unreadable == 0 and .usage.max_rss_kib < $most' \
    "$json" >/dev/null || fail "4096 ring: $(jq -c '[.mesh, .usage]' "$json")"
  echo "4096 ring: $seconds s, $(jq .usage.max_rss_kib "$json") KiB at most"
  : >"$work/scenario"
  hosts=$(seq -f 'n%g' -s , 1 1024)
  json=$work/none.json
  begin=$SECONDS
  PATH=$bin:$PATH SLURM_JOB_ID=42 SLURM_JOB_NODELIST="n[1-1024]" \
    /usr/bin/time -f '%M' -o "$work/rss" "$sweep" --mpi mpich --timeout 2 --pattern all "${mesh[@]}" \
    >"$work/out" 2>"$work/err"
  rc=$?
  ((rc == 0)) && grep -q '^523776 pairs: 523776 passed' "$work/out" || fail "1024 all: status $rc"
  (($(wc -l <"$work/out") < 40)) || fail "1024 all: the table lists $(wc -l <"$work/out") lines"
  rss=$(<"$work/rss")
  ((rss < 1048576 * room && SECONDS - begin < 120)) || fail "1024 all: $rss KiB, $((SECONDS - begin)) s"
  echo "1024 all: $((SECONDS - begin)) s, $rss KiB at most"
  ;;
hostile_hosts)
  # Nothing that is not a host name reaches a launcher: one line, status 2.
  printf 'n1\n-oProxyCommand=touch %s/owned\nn2\n' "$work" >"$work/hosts"
  refused() {
    HYDRA_LAUNCHER=ssh HYDRA_LAUNCHER_EXEC=$bin/ssh "$sweep" --mpi mpich "$@" "$bin/exchange" \
      >"$work/out" 2>"$work/err"
    rc=$?
    ((rc == 2)) || fail "$*: status $rc, not 2"
    [[ $(wc -l <"$work/err") == 1 && ! -s $work/out ]] || fail "$*: not one line"
  }
  refused --hosts "-oProxyCommand=touch $work/owned,n2"
  grep -q "^exchange-sweep: --hosts: '-oProxyCommand=touch $work/owned' is not a host name" "$work/err" ||
    fail "the bad name is not named: $(cat "$work/err")"
  refused --hostfile "$work/hosts"
  grep -q "host file $work/hosts, line 2: '-oProxyCommand=touch' is not a host name" "$work/err" ||
    fail "the host file's bad line is not named: $(cat "$work/err")"
  refused --hosts 'n1,n2;id'
  refused --hosts 'n1,$(id)'
  refused --hosts "n1,n2"$'\e[2J'
  ! grep -q $'\e' "$work/err" || fail "an escape reached the terminal"
  [[ ! -s $work/ssh.log && ! -e $work/owned ]] || fail "something was launched: $(cat "$work/ssh.log")"
  PATH=$bin:$PATH SLURM_JOB_ID=42 SLURM_JOB_NODELIST='n1,-x' "$sweep" --mpi mpich "$bin/exchange" \
    >"$work/out" 2>"$work/err"
  rc=$?
  ((rc == 2)) && grep -q "Slurm's node list: '-x'" "$work/err" || fail "a bad name from Slurm: $(cat "$work/err")"
  ;;
unwritable)
  for args in "--json /no/such/dir/f" "--junit $work" "--json $work/ok.json --junit /proc/version"; do
    start=$SECONDS
    # shellcheck disable=SC2086 # word lists
    HYDRA_LAUNCHER=ssh HYDRA_LAUNCHER_EXEC=$bin/ssh "$sweep" --mpi mpich --hosts "$hosts" $args \
      "$bin/exchange" >"$work/out" 2>"$work/err"
    rc=$?
    ((rc == 2)) || fail "$args: status $rc, not 2"
    grep -q '^exchange-sweep: cannot write ' "$work/err" || fail "$args: $(cat "$work/err")"
    [[ ! -s $work/ssh.log ]] || fail "$args: pairs were launched before the check"
    [[ -z $(find "$work" -maxdepth 1 -name '.*.json.*') && ! -e $work/ok.json ]] ||
      fail "$args: a temporary or half file is left"
  done
  ;;
leftovers)
  # A stuck srun that leaves a child behind: its process group goes too.
  rule orphan n2 n3
  run_sweep slurm
  expect 1 '[]' '[["n2","n3"]]'
  nothing_left
  ;;
parallel)
  # Never more than --parallel pairs at once, never a node in two.
  rule track
  rule delay 0.3
  hosts=$(seq -f 'n%g' -s , 1 24)
  run_sweep slurm --parallel 3
  expect 0 '[]' '[]'
  [[ $(<"$work/most") == 3 ]] || fail "$(<"$work/most") pairs at once, not 3"
  [[ ! -s $work/overlaps ]] || fail "a node in two pairs at once: $(sort -u "$work/overlaps")"
  # A dead host under all: it is in every round, one at a time.
  : >"$work/scenario"
  rule track
  rule dead n3
  rm -f "$work"/tries.* "$work/most" "$work/running"
  hosts=n1,n2,n3,n4,n5,n6,n7,n8
  run_sweep slurm --parallel 2 --pattern all
  ((rc == 1)) && [[ $(jq -c .suspect_nodes "$json") == '["n3"]' ]] || fail "under all, with 2 at once"
  (($(<"$work/most") <= 2)) || fail "$(<"$work/most") pairs at once, not 2"
  [[ ! -s $work/overlaps ]] || fail "a node in two pairs at once: $(sort -u "$work/overlaps")"
  ;;
time_left)
  # The job would end before the sweep's worst case: one line says so.
  hosts=$(seq -f 'n%g' -s , 1 64)
  STANDIN_TIME_LEFT=0:30 run_sweep slurm
  expect 0 '[]' '[]'
  grep -q '^exchange-sweep: warning: this sweep can take up to 11 min, and its job has 0 min left' "$work/err" ||
    fail "no warning: $(head -3 "$work/err")"
  STANDIN_TIME_LEFT=1-00:00:00 run_sweep slurm
  ! grep -q warning "$work/err" || fail "a warning with a day left"
  ;;
no_room)
  # --parallel beyond the descriptor limit: one line, status 2, nothing run.
  hosts=$(seq -f 'n%g' -s , 1 400)
  wrap=(bash -c 'ulimit -n 128 && exec "$@"' limited)
  run_sweep slurm --parallel 100
  ((rc == 2)) || fail "status $rc, not 2"
  [[ $(wc -l <"$work/err") == 1 ]] && grep -q 'needs .* open descriptors, and the limit is 128' "$work/err" ||
    fail "$(cat "$work/err")"
  [[ -z $(find "$work" -name 'tries.*') ]] || fail "pairs were run"
  ;;
out_of_room)
  # The sweep runs out of descriptors midway: its own lack of room stops
  # it, and is blamed on no pair.
  rule delay 1
  bound=5
  hosts=$(seq -f 'n%g' -s , 1 40)
  run_sweep slurm --parallel 4 &
  runner=$!
  await_pairs
  prlimit --pid "$pid" --nofile=12:12
  wait "$runner"
  rc=$(<"$work/rc")
  ((rc == 2)) || fail "status $rc, not 2"
  grep -q "^exchange-sweep: cannot start a pair's job: pipe: Too many open files" "$work/err" ||
    fail "$(tail -3 "$work/err")"
  jq -e '.complete == false' "$json" >/dev/null || fail "complete"
  [[ $(jq -c '.suspect_nodes + .undetermined + .suspect_links' "$json") == '[]' ]] || fail "blamed"
  (($(count_verdict failed) == 0)) || fail "its lack of room was a pair's failure"
  nothing_left
  ;;
topology)
  # Four switches of four nodes; the ring follows them; what a dead uplink,
  # a dead switch and a dead host point at, from a file and from Slurm.
  printf 'SwitchName=leaf%d Nodes=n[%d-%d]\n' 1 1 4 2 5 8 3 9 12 4 13 16 >"$work/topology.conf"
  echo 'SwitchName=spine Switches=leaf[1-4]' >>"$work/topology.conf"
  hosts=n1,n5,n9,n13,n2,n6,n10,n14,n3,n7,n11,n15,n4,n8,n12,n16
  tree() {
    run_sweep "$1" --topology "$work/topology.conf" --html "$work/page.html"
    [[ $(jq -r '.pairs[] | select(.confirmation | not) | .nodes | join("-")' "$json" | sort) == \
      $( (for i in {1..15}; do echo "n$i-n$((i + 1))"; done; echo n16-n1) | sort) ]] ||
      fail "$1: the ring does not follow the tree: $(jq -c '[.pairs[].nodes]' "$json")"
    [[ $(grep -o 'data-pair=' "$work/page.html" | wc -l) == $((2 * $(jq '.pairs | length' "$json"))) ]] ||
      fail "$1: the page does not hold every pair"
  }
  cases=("across n5 n6 n7 n8|uplinks|leaf2" "dead n9;dead n10;dead n11;dead n12|switches|leaf3"
    "dead n6|nodes|n6")
  for case in "${cases[@]}"; do
    IFS='|' read -r rules kind name <<<"$case"
    tr ';' '\n' <<<"$rules" >"$work/scenario"
    for mode in hydra slurm; do
      rm -f "$work"/tries.*
      tree "$mode"
      ((rc == 1)) || fail "$rules, $mode: status $rc"
      [[ $(jq -c ".suspect_$kind" "$json") == "[\"$name\"]" ]] || fail "$rules, $mode: $(jq -c .suspect_$kind "$json")"
      [[ $(jq -c '[.suspect_uplinks, .suspect_switches, .suspect_nodes, .suspect_links, .undetermined] | flatten | length' "$json") == 1 ]] ||
        fail "$rules, $mode: named more than $name"
      grep -qx "suspect $kind: $name" "$work/out" || fail "$rules, $mode: the table does not end so"
    done
  done
  # From Slurm, inside an allocation; scontrol lists every node beneath an
  # upper switch as well.
  sed 's/^SwitchName=spine /&Nodes=n[1-16] /' "$work/topology.conf" >"$work/topology"
  echo "across n5 n6 n7 n8" >"$work/scenario"
  rm -f "$work"/tries.*
  # A site's SLURM_TOPO_LEN would cut its lines short: the sweep reads
  # them whole.
  SLURM_TOPO_LEN=24 run_sweep slurm
  [[ $(jq -c .suspect_uplinks "$json") == '["leaf2"]' ]] || fail "Slurm's tree: $(jq -c .suspect_uplinks "$json")"
  [[ $(jq -c .topology "$json") == '{"source":"slurm","used":true,"problem":null}' ]] ||
    fail "Slurm's tree: $(jq -c .topology "$json")"
  # Two hosts dead on different leaves, with a healthy leaf between them:
  # the hosts, and no uplink of the leaf whose crossings met them.
  printf '%s\n' "dead n8" "dead n13" >"$work/scenario"
  rm -f "$work"/tries.*
  run_sweep slurm
  ((rc == 1)) && [[ $(jq -c '[.suspect_nodes, .suspect_uplinks, .suspect_switches, .suspect_links, .undetermined]' "$json") == \
    '[["n8","n13"],[],[],[],[]]' ]] || fail "n8 and n13 dead: $(jq -c '[.suspect_nodes, .suspect_uplinks]' "$json")"
  # A tree Slurm gives that cannot be read, whole or cut short by Slurm,
  # is warned of, and the sweep goes on in host order; --topology none
  # ignores Slurm's tree.
  echo "dead n6" >"$work/scenario"
  for unread in 'SwitchName=leaf5 Colour=red' 'SwitchName=leaf5 Nodes=n[17-'; do
    echo "$unread" >>"$work/topology"
    rm -f "$work"/tries.*
    run_sweep slurm
    ((rc == 1)) && [[ $(jq -c .suspect_nodes "$json") == '["n6"]' ]] || fail "'$unread': status $rc"
    jq -e '.topology.source == "slurm" and (.topology.used | not) and (.topology.problem | test("line 6"))' \
      "$json" >/dev/null || fail "'$unread': $(jq -c .topology "$json")"
    grep -q "^exchange-sweep: warning: Slurm's switch tree could not be read (line 6: " "$work/err" ||
      fail "'$unread': no warning: $(head -3 "$work/err")"
    grep -q "^the switch tree from Slurm could not be read" "$work/out" || fail "'$unread': the table does not say so"
    sed -i '$d' "$work/topology"
  done
  rm -f "$work"/tries.*
  run_sweep slurm --topology none
  jq -e '.topology == {"source": "none", "used": false, "problem": null}' "$json" >/dev/null ||
    fail "--topology none: $(jq -c .topology "$json")"
  # What is no tree, given as a file, is refused before anything runs.
  for bad in 'SwitchName=-x Nodes=n1' 'SwitchName=s Nodes=n[1-' 'SwitchName=s Colour=red' \
    'SwitchName=a Switches=b' $'SwitchName=a Switches=b\nSwitchName=b Switches=a'; do
    echo "$bad" >"$work/bad.conf"
    HYDRA_LAUNCHER=ssh HYDRA_LAUNCHER_EXEC=$bin/ssh "$sweep" --mpi mpich --hosts n1,n2 \
      --topology "$work/bad.conf" "$bin/exchange" >"$work/out" 2>"$work/err"
    rc=$?
    ((rc == 2)) && [[ $(wc -l <"$work/err") == 1 ]] || fail "topology '$bad': status $rc: $(cat "$work/err")"
  done
  ;;
drain)
  # The dead host is drained with a reason of the sweep's; a node an admin
  # drained keeps its reason, even one that says State=RESUME; a dry run
  # changes nothing.
  rule dead n3
  rule dead n5
  mkdir -p "$work/nodes"
  printf '%s\n' "IDLE+DRAIN" "admin: bad DIMM, State=RESUME after the swap" >"$work/nodes/n5"
  hosts=n1,n2,n3,n4,n5,n6,n7,n8
  run_sweep slurm --drain=dry-run --drain-max 2
  ((rc == 1)) || fail "dry run: status $rc"
  [[ ! -s $work/drains.log ]] || fail "a dry run drained: $(cat "$work/drains.log")"
  grep -q '^would drain n3: exchange-sweep: failed with ' "$work/out" || fail "dry run: $(tail -5 "$work/out")"
  rm -f "$work"/tries.*
  run_sweep slurm --drain --drain-max 2
  ((rc == 1)) || fail "drain: status $rc"
  [[ $(sed -n 1p "$work/drains.log") == n3 && $(sed -n 2p "$work/drains.log") == DRAIN &&
    $(sed -n 3p "$work/drains.log") == "exchange-sweep: "* && $(wc -l <"$work/drains.log") == 3 ]] ||
    fail "drains: $(cat "$work/drains.log")"
  [[ $(sed -n 2p "$work/nodes/n5") == "admin: bad DIMM, State=RESUME after the swap" ]] ||
    fail "the admin's reason is gone"
  jq -e '.drain.drained == [{"node": "n3", "reason": .drain.drained[0].reason}] and
    (.drain.left_alone | map(.node)) == ["n5"] and (.drain.drained[0].reason | contains("'"$json"'"))' \
    "$json" >/dev/null || fail "the JSON: $(jq -c .drain "$json")"
  grep -q '^left alone n5 (IDLE+DRAIN: admin: bad DIMM' "$work/out" || fail "$(tail -5 "$work/out")"
  # Never more than --drain-max: then none.
  : >"$work/drains.log"
  rm -rf "$work/nodes" "$work"/tries.*
  run_sweep slurm --drain --drain-max 1
  [[ ! -s $work/drains.log ]] || fail "drained past --drain-max"
  jq -e '.drain.none_because | test("more than --drain-max 1")' "$json" >/dev/null || fail "$(jq -c .drain "$json")"
  # A global fault drains nothing.
  : >"$work/scenario"
  for node in n1 n2 n3 n4 n5 n6 n7 n8; do rule refuse "$node"; done
  rm -f "$work"/tries.*
  run_sweep slurm --drain
  ((rc == 3)) && [[ ! -s $work/drains.log ]] || fail "global fault: status $rc, drained $(cat "$work/drains.log")"
  # Refused before the sweep: outside an allocation, or without the right.
  HYDRA_LAUNCHER=ssh HYDRA_LAUNCHER_EXEC=$bin/ssh "$sweep" --mpi mpich --hosts n1,n2 --drain \
    "$bin/exchange" >"$work/out" 2>"$work/err"
  (($? == 2)) && grep -q 'inside a Slurm allocation only' "$work/err" || fail "--drain with --hosts"
  # nobody may not reach a checkout under /root (mode 700): the sweep and
  # the stand-ins it starts are copied where anyone can.
  chmod 755 "$work"
  rm -f "$work"/tries.*
  open=$work/open
  mkdir -m 755 "$open"
  cp -L "$sweep" "$bin"/* "$open/"
  chmod -R a+rX "$open"
  PATH=$open:$PATH SLURM_JOB_ID=42 SLURM_JOB_NODELIST="n[1-8]" STANDIN_SLURM_USER=slurm \
    setpriv --reuid=nobody --regid=nogroup --clear-groups "$open/$(basename "$sweep")" --mpi mpich --drain \
    "$open/exchange" >"$work/out" 2>"$work/err"
  rc=$?
  ((rc == 2)) && grep -q 'may not drain nodes' "$work/err" && [[ -z $(find "$work" -name 'tries.*') ]] ||
    fail "as nobody: status $rc: $(cat "$work/err")"
  ;;
bystander)
  # Another job's step, and a step of this job that is not the sweep's,
  # both of names squeue shows; srun here ignores SIGTERM, so that its
  # stuck steps are cancelled through Slurm.
  rule stubborn
  rule dead n3
  rule dead n6
  sleep 300 &
  other_job=$!
  sleep 300 &
  own_job=$!
  echo "99.0 exchange-sweep.1.1 $other_job" >"$work/steps/99.0"
  echo "42.0 bystander $own_job" >"$work/steps/42.0"
  echo "42.batch batch $own_job" >"$work/steps/42.batch"
  run_sweep slurm
  expect 1 '["n3","n6"]' '[]'
  kill -0 "$other_job" 2>/dev/null || fail "another job's step was killed"
  kill -0 "$own_job" 2>/dev/null || fail "a step that is not the sweep's was killed"
  kill "$other_job" "$own_job"
  # Only ids of the sweep's own job, only numbered steps, none twice.
  grep -vqE '^--quiet( 42\.[0-9]+)+$' "$work/scancel.log" && fail "scancel: $(cat "$work/scancel.log")"
  grep -qE '42\.0( |$)' "$work/scancel.log" && fail "scancel was given the bystander"
  cancelled=$(tr ' ' '\n' <"$work/scancel.log" | grep -c '^42\.')
  lookups=$(wc -l <"$work/squeue.log")
  stuck=$(jq '[.pairs[].attempts[] | select(.verdict == "failed")] | length' "$json")
  ((cancelled == stuck)) || fail "$cancelled steps cancelled, of $stuck stuck"
  # The stuck steps of a round are looked for together, not one by one:
  # once to cancel them, once more to see them gone.
  rounds=$(grep -c '^round ' "$work/err")
  ((lookups <= 3 * rounds && lookups < 2 * stuck)) || fail "$lookups lookups for $stuck stuck steps in $rounds rounds"
  grep -q 'jobs=42' "$work/squeue.log" || fail "squeue was not limited to the sweep's job"
  # A round of stuck pairs ends within its bound and a few seconds.
  ((seconds <= rounds * (1 + 5))) || fail "$rounds rounds took $seconds s"
  nothing_left
  echo "$stuck stuck steps, $cancelled cancelled by id in $lookups lookups, $rounds rounds in $seconds s"
  ;;
*)
  echo "no such scenario: $scenario"
  exit 2
  ;;
esac
echo "$scenario: passed"
