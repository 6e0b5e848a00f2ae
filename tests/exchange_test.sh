#!/usr/bin/env bash
# One check of exchange per call, as ctest runs them:
#   exchange_test.sh LAUNCHER_FILE PEER CHECK [ARGS...]
set -u
source "$(dirname "$0")/lib.sh" "$1"
PEER=$2
check=$3
shift 3

case $check in
job)
  app "$1" "$EXCHANGE"
  run_job
  expect_clean_success
  expect_lines_of_job "$1"
  ;;
direct)
  run "$EXCHANGE"
  expect_clean_success
  expect_lines "$size_line"
  ;;
arguments)
  # Nothing the program is given is read: not format directives, not
  # options of a launcher, not an empty word. (A lone ':' is the launcher's
  # own, so only a direct start is given one.)
  args=('%d%n%s' '%s%s%s%s' '-n' '3' '-np' '4' '--help' '' '--' "$(printf 'x%.0s' {1..4096})")
  for n in 1 2 3; do
    app "$n" "$EXCHANGE" "${args[@]}"
    run_job
    expect_clean_success
    expect_lines_of_job "$n"
  done
  run "$EXCHANGE" "${args[@]}" ':'
  expect_clean_success
  expect_lines "$size_line"
  ;;
peer_receives)
  pair "$EXCHANGE" -- "$PEER" receive
  run_job
  expect_clean_success
  expect_lines "$sent_line" 'peer: source 0 tag 0 count 1 bytes 4 value 777'
  ;;
peer_sends)
  # The receiver reports what arrived, not the 0 it cleared its buffer to.
  for value in 1 -1 2147483647 -2147483648; do
    pair "$PEER" send "$value" -- "$EXCHANGE"
    run_job
    expect_clean_success
    expect_lines " process 1 : $value has been received from: 0"
  done
  # What arrived with tag 0, not a decoy the peer sends first with tag 1.
  # Nobody takes the decoy: UCX (under MPICH) warns of it at the end, and
  # MPICH from 4.1 on ends the job in error, as the MPI standard lets it for
  # a message never received; nothing else may go wrong.
  pair "$PEER" decoy 5 -- "$EXCHANGE"
  UCX_LOG_LEVEL=error run_job
  if grep -q 'being freed has 1 unmatched message' "$work/err"; then
    # The launcher may add its own report of the failed job, and may even
    # call it a success (Hydra of MPICH 4.2 does, now and then).
    [[ $(grep received "$work/out") == " process 1 : 5 has been received from: 0" ]] ||
      fail "the receiver did not report the value sent with tag 0"
    echo "the MPI library refused to end with the decoy unreceived (status $rc)"
  else
    expect_clean_success
    expect_lines " process 1 : 5 has been received from: 0"
  fi
  ;;
lost_output)
  run bash -c "$full" "$EXCHANGE"
  expect_lost 1
  run bash -c "$closed" "$EXCHANGE"
  expect_lost 1
  # Every process says so, even where the launcher ends the job as soon as
  # the first one fails; repeated, as that is a race.
  for wrapper in "$full" "$closed"; do
    for _ in {1..10}; do
      app 2 bash -c "$wrapper" "$EXCHANGE"
      run_job
      expect_lost 2
    done
  done
  # Only rank 1 loses its line: rank 0's still arrives, and the job fails.
  pair "$EXCHANGE" -- bash -c "$closed" "$EXCHANGE"
  run_job
  expect_lost 1
  expect_lines "$sent_line"
  ;;
rank_0_dies)
  # Rank 1 waits in its receive for a sender that is killed ($1: before or
  # after joining the job); the launcher must end the job as failed, and
  # nothing may claim a value was received.
  # Hydra of MPICH 4.2 now and then calls such a job a success, with
  # nothing on either stream, and at times several jobs running (three in
  # a row in one CI run); it may not do so ten times running.
  for attempt in {1..10}; do
    pair "$PEER" "die-$1-init" -- "$EXCHANGE"
    SECONDS=0
    run timeout 60 "${cmd[@]}"
    cmd=()
    ((rc != 124)) || fail "the job was still waiting after 60 s"
    ! grep -q 'received' "$work/out" || fail "a line claims a value was received"
    ((rc == 0)) && [[ $MPI_IMPLEMENTATION == mpich ]] || break
    echo "the launcher called the failed job a success; again"
  done
  ((rc != 0)) || fail "the job passed for good"
  echo "rank 0 killed $1 joining: status $rc after $SECONDS s"
  ;;
soak)
  # $1 two-process jobs one after another, then $1 more eight at a time,
  # each job's output on its own: every one exact, none lost or mixed.
  for ((i = 0; i < $1; i++)); do
    app 2 "$EXCHANGE"
    run_job
    expect_clean_success
    expect_lines "$sent_line" "$received_line"
  done
  app 2 "$EXCHANGE"
  job=("${cmd[@]}")
  for ((i = 0; i < $1; i++)); do
    # Each job its own temporary directory, as concurrent jobs of one user
    # need under Open MPI: its launchers race to make and remove a session
    # directory they share there, and one then fails to start (2 of 400).
    mkdir "$work/tmp.$i"
    {
      TMPDIR=$work/tmp.$i "${job[@]}" >"$work/out.$i" 2>"$work/err.$i" </dev/null
      echo $? >"$work/rc.$i"
    } &
    (((i + 1) % 8)) || wait
  done
  wait
  for ((i = 0; i < $1; i++)); do
    rc=$(<"$work/rc.$i")
    mv "$work/out.$i" "$work/out"
    mv "$work/err.$i" "$work/err"
    expect_clean_success
    expect_lines "$sent_line" "$received_line"
  done
  echo "$1 jobs in sequence and $1 eight at a time, every output exact"
  ;;
repeat)
  # Lines of concurrent processes must never run into each other.
  for ((i = 1; i <= $2; i++)); do
    app "$1" "$EXCHANGE"
    run_job
    expect_clean_success
    expect_lines_of_job "$1"
  done
  echo "$2 jobs of $1, every line whole"
  ;;
*)
  echo "no such check: $check"
  exit 2
  ;;
esac
