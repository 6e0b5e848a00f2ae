# Sourced by the tests that run on the test cluster, after ../lib.sh:
#   source cluster/lib.sh STATE_FILE
# It gives the cluster's site settings, a way onto each host, the launches
# across two hosts exactly as the README gives them, the faults of the data
# network, and the checks that nothing of a job is left behind.
state=$1
[[ -s $state ]] || skip "no test cluster here (cluster_up says why)"
# shellcheck source=/dev/null
source "$state"
export SLURM_CONF EXCHANGE_CLUSTER=$CLUSTER_DIR
# The program as cluster_up copied it in: /tmp is each host's own. And a
# stand-in for the known hang: it prints its rank's line, then never ends.
PROGRAM=$CLUSTER_DIR/bin/$(basename "$EXCHANGE")
# The scripts the hosts run are copied in too, as cluster_up found them.
HANGING=$CLUSTER_DIR/bin/exchanged_then_hung.sh
batch_script=$CLUSTER_DIR/bin/exchange.sbatch
mkdir -p "$CLUSTER_DIR/jobs"

# The bounds the README gives: mpiexec's in seconds, Slurm's in minutes.
# Slurm checks its limits every 30 s, so a step ends up to that much later.
bound=30
slurm_bound=$((60 + 30))
batch_bound=120

# What a site sets once for its cluster: how the launcher reaches the hosts
# (the cluster's ssh), and which network carries what: "mgmt" the launchers
# and Slurm, "data" the ranks.
ssh_agent=$CLUSTER_DIR/bin/ssh
if [[ $MPI_IMPLEMENTATION == openmpi ]]; then
  plugin=pmix
  export "$RUNTIME_SSH_AGENT=$ssh_agent" "$RUNTIME_IF_INCLUDE=mgmt"
  # For srun, which has no --mca; exported, as srun --export would split
  # the comma. ob1 with the TCP transport, as UCX would find that the hosts
  # share one kernel.
  export OMPI_MCA_pml=ob1 OMPI_MCA_btl=tcp,self OMPI_MCA_btl_tcp_if_include=data
else
  plugin=pmi2
  export HYDRA_LAUNCHER=ssh HYDRA_LAUNCHER_EXEC=$ssh_agent
  # UCX would find that the hosts share one kernel and use shared memory;
  # real hosts cannot, so the message takes TCP over the data network.
  export UCX_TLS=tcp UCX_NET_DEVICES=data
fi

# on HOST COMMAND...: run COMMAND on HOST.
on() {
  local host=$1
  shift
  # From the cluster's own directory: the caller's may not be on the host.
  nsenter --target "$(<"$CLUSTER_DIR/$host-holder.pid")" --net --mount --uts --root --wd="$CLUSTER_DIR" -- "$@"
}
# data_address HOST: HOST's address on the data network.
data_address() {
  echo "198.18.0.${1#node}"
}

# The README's launches of the job across hosts A and B, into cmd; each
# starts on A (mpiexec) or on node1, the login node (srun, sbatch).
mpiexec_job() {
  if [[ $MPI_IMPLEMENTATION == openmpi ]]; then
    cmd=(on "$1" "${MPIEXEC[@]}" --host "$1,$2" --map-by node -n 2 --timeout "$bound"
      --mca pml ob1 --mca btl tcp,self --mca btl_tcp_if_include data "$PROGRAM")
  else
    cmd=(on "$1" env MPIEXEC_TIMEOUT="$bound" "${MPIEXEC[@]}" -hosts "$1,$2" -ppn 1 -n 2 "$PROGRAM")
  fi
}
srun_job() {
  cmd=(on node1 srun --mpi="$plugin" -N 2 -n 2 -w "$1,$2" --time=1 --kill-on-bad-exit=1 "$PROGRAM")
}
# sbatch_job A B OUTPUT: the batch script as users submit it, placed on A
# and B; its job's output goes to OUTPUT.
sbatch_job() {
  cmd=(on node1 sbatch --wait --quiet --nodes=2 -w "$1,$2" --output="$3"
    --export="ALL,EXCHANGE=$PROGRAM,EXCHANGE_MPI=$plugin" "$batch_script")
}

# run_verdict LAUNCHER SECONDS: what a run of the job that ended with
# status $rc after SECONDS, its output in $work/out, came to: "clean" (the
# two lines, status 0), "hung" (MPICH only: both lines, then no end until
# the launcher's bound: MPICH 4.0's finalisation hangs now and then, the
# README says so) or "failed".
run_verdict() {
  local limit=60 # Slurm's minute, for srun and sbatch
  [[ $1 == mpiexec ]] && limit=$bound
  # A run that reached its bound is never clean, whatever its status:
  # Hydra of MPICH 4.2 may end a job it timed out with status 0.
  if [[ $MPI_IMPLEMENTATION == mpich ]] && (($2 >= limit)) &&
    grep -qxF "$sent_line" "$work/out" && grep -qxF "$received_line" "$work/out"; then
    echo hung
  elif ((rc == 0 && $2 < limit)) && grep -qxF "$sent_line" "$work/out" &&
    grep -qxF "$received_line" "$work/out"; then
    echo clean
  else
    echo failed
  fi
}

# healthy LAUNCHER A B: the job between A and B, launched by mpiexec, srun
# or sbatch, must print the two lines and end cleanly. A run that is the
# known hang is counted apart, and the check passes when 3 runs of at most
# 5 end cleanly. Any other outcome fails.
healthy() {
  local clean=0 hung=0 begin seconds tx_before rx_before tx_after rx_after
  read -r tx_before rx_before < <(data_bytes "$2")
  while ((clean < 3 && clean + hung < 5)); do
    begin=${EPOCHREALTIME/./}
    if [[ $1 == sbatch ]]; then
      sbatch_job "$2" "$3" "$CLUSTER_DIR/jobs/healthy.out"
      run_job
      cat "$CLUSTER_DIR/jobs/healthy.out" >"$work/out"
    else
      "$1_job" "$2" "$3"
      run_job
    fi
    seconds=$(((${EPOCHREALTIME/./} - begin) / 1000000))
    case $(run_verdict "$1" "$seconds") in
    clean)
      expect_lines "$sent_line" "$received_line"
      [[ $1 == sbatch || ! -s $work/err ]] || fail "$1: stderr is not empty"
      clean=$((clean + 1))
      ;;
    hung) hung=$((hung + 1)) ;;
    *) fail "$1: status $rc after $seconds s" ;;
    esac
    expect_nothing_left
  done
  read -r tx_after rx_after < <(data_bytes "$2")
  echo "$1 between $2 and $3: $clean clean, $hung exchanged then hung;" \
    "$2's data link sent $((tx_after - tx_before)) bytes, received $((rx_after - rx_before))"
  ((clean == 3)) || fail "$1: only $clean of $((clean + hung)) runs ended cleanly"
  ((tx_after > tx_before && rx_after > rx_before)) ||
    fail "$1: nothing crossed the data network"
}

# The faults of the data network, each undone by heal.
# blackhole A B: every frame between A and B silently lost, as neither
# takes frames for an address nobody has.
blackhole() {
  on "$1" ip neigh replace "$(data_address "$2")" lladdr 02:00:00:00:00:01 dev data nud permanent
  on "$2" ip neigh replace "$(data_address "$1")" lladdr 02:00:00:00:00:02 dev data nud permanent
}
# isolate HOST: HOST's data link silently dead towards every other host.
isolate() {
  local host
  for ((host = 1; host <= CLUSTER_SIZE; host++)); do
    [[ node$host == "$1" ]] || blackhole "$1" "node$host"
  done
}
interface_down() {
  on "$1" ip link set data down
}
address_gone() {
  on "$1" ip addr del "$(data_address "$1")/24" dev data
}
# Of a tree (CLUSTER_LEAVES > 1), leaf L's uplink to the spine silently
# dead, every host's own link still up; and leaf L's switch dead.
uplink_down() {
  ip link set "xc${CLUSTER_ID}u$1" down
}
leaf_down() {
  ip link set "xc${CLUSTER_ID}l$1" down
}
# Slow parts, by tc on the data network's links, each way: HOST's link
# (tbf on both its ends); only the path between A and B (htb on each, a
# class of RATE for the other's address); leaf L's uplink (tbf on both ends
# of the link between its bridge and the spine's).
slow_host() {
  on "$1" tc qdisc replace dev data root tbf rate "$2" burst 32kbit latency 400ms
  tc qdisc replace dev "xc${CLUSTER_ID}d${1#node}" root tbf rate "$2" burst 32kbit latency 400ms
}
slow_path() {
  local one=$1 other=$2
  for _ in 1 2; do
    on "$one" tc qdisc replace dev data root handle 1: htb default 10
    on "$one" tc class replace dev data parent 1: classid 1:10 htb rate 100gbit quantum 200000
    on "$one" tc class replace dev data parent 1: classid 1:20 htb rate "$3"
    on "$one" tc filter replace dev data protocol ip parent 1: prio 1 u32 \
      match ip dst "$(data_address "$other")/32" flowid 1:20
    one=$2 other=$1
  done
}
slow_uplink() {
  local end
  for end in "xc${CLUSTER_ID}u$1" "xc${CLUSTER_ID}s$1"; do
    tc qdisc replace dev "$end" root tbf rate "$2" burst 32kbit latency 400ms
  done
}
heal() {
  local host leaf end
  for ((leaf = 1; leaf <= ${CLUSTER_LEAVES:-1} && ${CLUSTER_LEAVES:-1} > 1; leaf++)); do
    ip link set "xc${CLUSTER_ID}u$leaf" up
    ip link set "xc${CLUSTER_ID}l$leaf" up
    for end in "xc${CLUSTER_ID}u$leaf" "xc${CLUSTER_ID}s$leaf"; do
      tc qdisc del dev "$end" root 2>/dev/null
    done
  done
  for ((host = 1; host <= CLUSTER_SIZE; host++)); do
    on "node$host" ip link set data up
    on "node$host" ip addr replace "$(data_address "node$host")/24" dev data
    on "node$host" ip neigh flush dev data nud permanent
    on "node$host" tc qdisc del dev data root 2>/dev/null
    tc qdisc del dev "xc${CLUSTER_ID}d$host" root 2>/dev/null
  done
  return 0
}

# data_bytes HOST: bytes sent and received on HOST's data link so far.
data_bytes() {
  on "$1" cat /sys/class/net/data/statistics/{tx,rx}_bytes | tr '\n' ' '
}

# leftovers: what runs on the hosts besides the cluster itself, a line each
# (empty when a job has left nothing behind); hosts named in
# busy_hosts (a test's own long job) are passed over.
busy_hosts=
leftovers() {
  local host pid
  for ((host = 1; host <= CLUSTER_SIZE; host++)); do
    [[ " $busy_hosts " == *" node$host "* ]] && continue
    for pid in $(ip netns pids "exchange-$CLUSTER_ID-node$host"); do
      case $(cat "/proc/$pid/comm" 2>/dev/null) in
      sleep | slurmd | slurmctld | slurmscriptd | "") ;;
      *) echo "node$host: $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)" ;;
      esac
    done
  done
}
# expect_nothing_left: nothing of any job runs on any host; Slurm may take
# a few seconds to tear a step down after srun has returned.
expect_nothing_left() {
  local left
  for _ in {1..50}; do
    left=$(leftovers)
    [[ -z $left ]] && return 0
    sleep 0.2
  done
  fail "left running after the job: $left"
}

# sweep_over LAUNCH COUNT ARGS...: exchange-sweep ($SWEEP) from node1 over
# node1 to nodeCOUNT with ARGS, by LAUNCH (mpiexec: --hosts and the
# cluster's --topology; srun: inside an allocation of them, the tree from
# Slurm); its table in $work/out, its status in rc, its time in seconds.
sweep_over() {
  local launch=$1 count=$2
  shift 2
  rm -f "$json"
  begin=$SECONDS
  if [[ $launch == mpiexec ]]; then
    run on node1 "$SWEEP" --hosts "$(seq -f 'node%g' -s , 1 "$count")" \
      --topology "$CLUSTER_DIR/topology.conf" "$@"
  else
    run on node1 salloc --quiet --nodelist="node[1-$count]" --ntasks-per-node=1 --time=20 \
      "$SWEEP" "$@"
  fi
  seconds=$((SECONDS - begin))
}
# expect_found WHAT STATUS FOUND: the sweep just run (WHAT) wrote $json,
# ended with STATUS and found FOUND, as the test's own found prints it.
expect_found() {
  [[ -s $json ]] || fail "$1: no JSON (status $rc): $(cat "$work/err")"
  ((rc == $2)) && [[ $(found) == "$3" ]] ||
    fail "$1: status $rc (not $2), found $(found), not $3: $(verdicts)"
}

# Of a sweep's JSON report in $json: every pair and its verdict in one
# line (a "+" marks a confirmation pair), and the pairs of verdict $1.
verdicts() {
  jq -r '.pairs[] | "\(.nodes | join("-"))\(if .confirmation then "+" else "" end) \(.verdict)"' "$json" | tr '\n' ' '
}
count() {
  jq "[.pairs[] | select(.verdict == \"$1\")] | length" "$json"
}
