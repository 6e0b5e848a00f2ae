#!/usr/bin/env bash
# One check of exchange per call, as ctest runs them:
#   exchange_test.sh LAUNCHER_FILE PEER CHECK [ARGS...]
# LAUNCHER_FILE, written by the build, names the launcher, its flags and the
# program, so that every job here starts the way FindMPI says to.
set -u
source "$1"
PEER=$2
check=$3
shift 3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

size_line='needs 2 processors '
sent_line=' process 0 : 777 has to sent to: 1'
received_line=' process 1 : 777 has been received from: 0'
# Shell wrappers that start their program without stdout (and stdin: with
# both gone, the library's own descriptors land on 1) or with stdout full.
closed='exec "$0" "$@" <&- >&-'
full='exec "$0" "$@" >/dev/full'

fail() {
  echo "FAIL: $*"
  for f in out err; do
    echo "--- std$f:"
    cat -A "$work/$f"
  done
  exit 1
}

# app N PROGRAM [ARGS...]: add N processes of PROGRAM to the job in cmd
# (a second call makes an MPMD job).
cmd=()
app() {
  local n=$1 program=$2
  shift 2
  if ((${#cmd[@]})); then cmd+=(:); else cmd=("${MPIEXEC[@]}"); fi
  cmd+=("${NUMPROC_FLAG[@]}" "$n" "${PREFLAGS[@]}" "$program" "${POSTFLAGS[@]}" "$@")
}

# run COMMAND...: run it with stdout and stderr to files, status in rc.
run() {
  "$@" >"$work/out" 2>"$work/err" </dev/null
  rc=$?
}
run_job() {
  run "${cmd[@]}"
  cmd=()
}

# expect_lines LINE...: stdout is exactly these lines, in any order, each
# ending in a line feed.
expect_lines() {
  local want=0 line
  for line in "$@"; do want=$((want + ${#line} + 1)); done
  printf '%s\n' "$@" | LC_ALL=C sort >"$work/want"
  LC_ALL=C sort "$work/out" | cmp -s - "$work/want" || fail "lines differ from: $*"
  local got
  got=$(wc -c <"$work/out")
  ((got == want)) || fail "$got bytes on stdout, not $want"
}
expect_clean_success() {
  ((rc == 0)) || fail "status $rc, not 0"
  [[ ! -s $work/err ]] || fail "stderr is not empty"
}
# expect_lines_of_job N: stdout is what a job of N processes writes.
expect_lines_of_job() {
  if (($1 == 2)); then
    expect_lines "$sent_line" "$received_line"
  else
    local lines=() i
    for ((i = 0; i < $1; i++)); do lines+=("$size_line"); done
    expect_lines "${lines[@]}"
  fi
}
# expect_lost N: a failed job in which N processes said they lost their line.
expect_lost() {
  ((rc != 0)) || fail "lost output reported as success"
  local said
  said=$(grep -c '^exchange: cannot write standard output: .' "$work/err")
  ((said == $1)) || fail "$said processes reported lost output, not $1"
}

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
  app 1 "$EXCHANGE"
  app 1 "$PEER" receive
  run_job
  expect_clean_success
  expect_lines "$sent_line" 'peer: source 0 tag 0 count 1 bytes 4 value 777'
  ;;
peer_sends)
  # The receiver reports what arrived, not the 0 it cleared its buffer to.
  for value in 1 -1 2147483647 -2147483648; do
    app 1 "$PEER" send "$value"
    app 1 "$EXCHANGE"
    run_job
    expect_clean_success
    expect_lines " process 1 : $value has been received from: 0"
  done
  ;;
lost_output)
  run bash -c "$full" "$EXCHANGE"
  expect_lost 1
  run bash -c "$closed" "$EXCHANGE"
  expect_lost 1
  for wrapper in "$full" "$closed"; do
    app 2 bash -c "$wrapper" "$EXCHANGE"
    run_job
    expect_lost 2
  done
  # Only rank 1 loses its line: rank 0's still arrives, and the job fails.
  app 1 "$EXCHANGE"
  app 1 bash -c "$closed" "$EXCHANGE"
  run_job
  expect_lost 1
  expect_lines "$sent_line"
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
