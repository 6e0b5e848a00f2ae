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
