#!/usr/bin/env bash
# Bad usage and an environment the sweep cannot work in end with status 2
# and one line on standard error, before any launcher is started:
#   usage.sh SWEEP PROGRAM
set -u
sweep=$1
program=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf 'n1\nn1\n' >"$work/twice"
cases=(
  "--hosts n1 $program"
  "--hosts n1,n2 $work/nonexistent"
  "--hosts n1,n2 $work"
  "--hosts n1,n2 --hostfile $work/twice $program"
  "--hostfile $work/nonexistent $program"
  "--hostfile $work/twice $program"
  "--pattern star --hosts n1,n2 $program"
  "--timeout 0 --hosts n1,n2 $program"
  "--timeout 1e10 --hosts n1,n2 $program"
  "--timeout 86401 --hosts n1,n2 $program"
  "--retries 1e3 --hosts n1,n2 $program"
  "--parallel 0 --hosts n1,n2 $program"
  "--parallel 99999999999999999999999 --hosts n1,n2 $program"
  "--drain-max 0 --hosts n1,n2 $program"
  "--worst-case 1 $program"
  "--worst-case 1000001 $program"
  "--hosts n1,n2 /bin/sh"
  "$program"
)
failed=0
for args in "${cases[@]}"; do
  # shellcheck disable=SC2086 # the cases are word lists
  env -u SLURM_JOB_NODELIST "$sweep" $args >"$work/out" 2>"$work/err"
  rc=$?
  lines=$(wc -l <"$work/err")
  echo "$args: status $rc: $(head -c 200 "$work/err")"
  if ((rc != 2 || lines != 1)) || [[ -s $work/out ]]; then
    echo "FAIL: want status 2, one line on stderr, nothing on stdout"
    failed=1
  fi
done
exit $failed
