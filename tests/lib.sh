# Sourced by the test scripts: how to start a job, and what to expect of it.
# LAUNCHER_FILE, written by the build, names the launcher, its flags and the
# program, so that every job here starts the way FindMPI says to.
#   source lib.sh LAUNCHER_FILE
source "$1"

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

# app N PROGRAM [ARGS...]: a job of N processes of PROGRAM, in cmd.
cmd=()
app() {
  local n=$1 program=$2
  shift 2
  cmd=("${MPIEXEC[@]}" "${NUMPROC_FLAG[@]}" "$n" "${PREFLAGS[@]}" "$program" "${POSTFLAGS[@]}" "$@")
}
# pair RANK_0_COMMAND... -- RANK_1_COMMAND...: a job of two processes, each
# running its own command, in cmd. One program picks the command by rank,
# rather than two programs in one job, which Open MPI 5's launcher cannot.
pair() {
  app 2 "$(dirname "${BASH_SOURCE[0]}")/by_rank.sh" "$@"
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

skip() {
  echo "SKIP: $*"
  exit 77
}
