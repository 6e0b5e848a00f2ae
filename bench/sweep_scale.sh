#!/usr/bin/env bash
# exchange-sweep at scale, against the floor of this machine: sweeps of N
# simulated nodes inside a stand-in Slurm allocation (a stand-in srun that
# takes its pair from --nodelist, waits DELAY seconds and prints the two
# lines), and the same stand-ins started for the same waves by
# sweep_floor, measured side by side, alternately, RUNS times each. For
# each: the medians of the wall times and their ratio, the sweep's own CPU
# a pair, its peak resident memory and open descriptors (from its JSON);
# then a dead host among the largest ring, which must be named alone. The
# sweep starts with the usual soft limit of 1024 open descriptors, and
# raises it itself.
#   sweep_scale.sh BUILD_DIR OUT_DIR RUNS "SIZES" "ALL_SIZES" DELAY
set -euo pipefail
build=$1 out=$2 runs=$3 sizes=$4 all_sizes=$5 delay=$6
bin=$build/tests/standin-bin
floor=$build/bench/sweep_floor
sweep=$build/sweep/exchange-sweep
default_k=$("$sweep" --help | sed -n 's/.*pairs at once at most.* (default \([0-9]*\)).*/\1/p')
[[ -n $default_k ]] || { echo "sweep_scale.sh: cannot read --parallel's default from --help" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export STANDIN_DIR=$work
mkdir "$work/steps"
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

# one PATTERN N K: one sweep, its wall seconds and its JSON's usage.
one() {
  rm -f "$work"/tries.* "$work/sweep.json"
  local begin=${EPOCHREALTIME/./}
  PATH=$bin:$PATH SLURM_JOB_ID=42 SLURM_JOB_NODELIST="n[1-$2]" \
    bash -c 'ulimit -Sn 1024 && exec "$@"' limited \
    "$sweep" --mpi mpich --pattern "$1" --parallel "$3" --timeout 30 \
    --json "$work/sweep.json" "$bin/exchange" >"$work/out" 2>"$work/err" || true
  local wall=$(((${EPOCHREALTIME/./} - begin) / 1000))
  jq -e '.counts.passed == (.pairs | length)' "$work/sweep.json" >/dev/null ||
    { echo "sweep_scale.sh: $1 $2 K=$3: not every pair passed: $(jq -c .counts "$work/sweep.json")" >&2; exit 1; }
  jq -r --arg w "$wall" '[$w, .usage.cpu_seconds * 1000 / (.pairs | length),
    .usage.max_rss_kib, .usage.max_descriptors, (.pairs | length)] | @tsv' "$work/sweep.json"
}

echo "delay $delay" >"$work/scenario"
printf 'pattern\tnodes\tk\tpairs\tfloor_s\tsweep_s\tratio\tcpu_ms_a_pair\tpeak_rss_kib\tpeak_descriptors\n' \
  >"$out/sweep-scale.tsv"
cases=()
for n in $sizes; do cases+=("ring $n $((n / 2))" "ring $n $default_k"); done
for n in $all_sizes; do cases+=("all $n $((n / 2))" "all $n $default_k"); done
for case in "${cases[@]}"; do
  read -r pattern n k <<<"$case"
  : >"$work/floor" && : >"$work/sweep"
  for ((i = 0; i < runs; i++)); do
    rm -f "$work"/tries.*
    "$floor" "$bin/srun" "$pattern" "$n" "$k" >>"$work/floor"
    one "$pattern" "$n" "$k" >>"$work/sweep"
  done
  f=$(median <"$work/floor")
  s=$(cut -f1 "$work/sweep" | median)
  read -r _ cpu rss fds pairs < <(sort -g -k1 "$work/sweep" | sed -n "$(((runs + 1) / 2))p")
  awk -v OFS='\t' -v p="$pattern" -v n="$n" -v k="$k" -v pairs="$pairs" -v f="$f" -v s="$s" \
    -v cpu="$cpu" -v rss="$rss" -v fds="$fds" \
    'BEGIN {printf "%s\t%d\t%d\t%d\t%.2f\t%.2f\t%.3f\t%.3f\t%d\t%d\n", p, n, k, pairs, f, s / 1000, s / 1000 / f, cpu, rss, fds}' \
    >>"$out/sweep-scale.tsv"
done
column -t -s $'\t' "$out/sweep-scale.tsv"

# A dead host among the largest ring: named alone.
largest=${sizes##* }
echo "dead n$((largest / 3))" >>"$work/scenario"
rm -f "$work"/tries.*
PATH=$bin:$PATH SLURM_JOB_ID=42 SLURM_JOB_NODELIST="n[1-$largest]" \
  "$sweep" --mpi mpich --timeout 2 --json "$work/dead.json" "$bin/exchange" >/dev/null 2>&1 || true
named=$(jq -c '[.suspect_nodes, .suspect_links, .undetermined, .global_fault]' "$work/dead.json")
echo "a dead host, n$((largest / 3)), among $largest: named $named"
[[ $named == "[[\"n$((largest / 3))\"],[],[],null]" ]] ||
  { echo "sweep_scale.sh: the dead host was not named alone" >&2; exit 1; }

gnuplot <<PLOT
set terminal png size 900,600
set output '$out/sweep-scale.png'
set title 'exchange-sweep of simulated nodes (ring, stand-ins of $delay s): wall time against its floor'
set xlabel 'nodes'
set ylabel 'seconds'
set logscale xy
set key left top
set datafile separator '\t'
plot '$out/sweep-scale.tsv' using (strcol(1) eq 'ring' && \$3 == \$2 / 2 ? \$2 : NaN):6 with linespoints title 'sweep, K = N/2', \
     '' using (strcol(1) eq 'ring' && \$3 == \$2 / 2 ? \$2 : NaN):5 with linespoints title 'floor, K = N/2', \
     '' using (strcol(1) eq 'ring' && \$3 == $default_k ? \$2 : NaN):6 with linespoints title 'sweep, K = $default_k', \
     '' using (strcol(1) eq 'ring' && \$3 == $default_k ? \$2 : NaN):5 with linespoints title 'floor, K = $default_k'
PLOT
echo "sweep_scale.sh: wrote $out/sweep-scale.tsv and $out/sweep-scale.png"
