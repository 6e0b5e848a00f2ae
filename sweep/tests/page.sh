#!/usr/bin/env bash
# The sweep's page in a real browser: an all-pairs sweep of 16 stand-in
# nodes under four switches, one of them dead, rendered by headless
# Chromium with nothing to fetch. The DOM it builds must hold, for every
# pair, its two cells with the pair's verdict; the dead node is marked;
# the screenshot goes to OUT_DIR/page.png.
#   page.sh SWEEP STANDIN_BIN OUT_DIR
set -u
sweep=$1 bin=$2 out=$3
chromium=$(command -v chromium || command -v chromium-browser) ||
  { echo "SKIP: chromium is not installed (package chromium)"; exit 77; }
command -v jq >/dev/null || { echo "SKIP: jq is not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export STANDIN_DIR=$work
mkdir -p "$work/steps" "$out"
echo "dead n6" >"$work/scenario"
printf 'SwitchName=leaf%d Nodes=n[%d-%d]\n' 1 1 4 2 5 8 3 9 12 4 13 16 >"$work/topology.conf"
echo 'SwitchName=spine Switches=leaf[1-4]' >>"$work/topology.conf"
fail() { echo "FAIL: $*"; exit 1; }

# Inside a stand-in allocation, whose stand-in srun ends at once when told.
PATH=$bin:$PATH SLURM_JOB_ID=42 SLURM_JOB_NODELIST='n[1-16]' "$sweep" --mpi mpich --timeout 1 \
  --pattern all --parallel 8 --topology "$work/topology.conf" \
  --json "$work/sweep.json" --html "$out/page.html" "$bin/exchange" >"$work/table" 2>&1
[[ $(jq -c .suspect_nodes "$work/sweep.json") == '["n6"]' ]] || fail "the sweep did not name n6: $(cat "$work/table")"
! grep -qiE '(src|href)=|https?:|@import|url\(' "$out/page.html" || fail "the page fetches something"

browse() {
  "$chromium" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$work/profile" "$@" "file://$out/page.html" 2>>"$work/chromium.log"
}
browse --dump-dom >"$work/dom.html" || fail "chromium could not render it: $(tail -3 "$work/chromium.log")"
browse --screenshot="$out/page.png" --window-size=1000,700 >/dev/null ||
  fail "no screenshot: $(tail -3 "$work/chromium.log")"
[[ -s $out/page.png ]] || fail "the screenshot is empty"

# Every pair: two cells, each with the pair's final verdict.
grep -o 'data-pair="[^"]*" data-verdict="[^"]*"' "$work/dom.html" | sort >"$work/cells"
jq -r '.pairs[] | "data-pair=\"\(.nodes | join("-"))\" data-verdict=\"\(.verdict)\""' "$work/sweep.json" |
  sed 'p' | sort >"$work/want"
diff "$work/want" "$work/cells" >/dev/null ||
  fail "the rendered cells differ from the pairs: $(diff "$work/want" "$work/cells" | head -5)"
grep -q 'class="node suspect"[^>]*>n6<' "$work/dom.html" || fail "n6 is not marked suspect"
for leaf in leaf1 leaf2 leaf3 leaf4; do
  grep -q "class=\"switch\"[^>]*>$leaf<" "$work/dom.html" || fail "switch $leaf is not marked"
done
echo "$(wc -l <"$work/cells") cells for $(jq '.pairs | length' "$work/sweep.json") pairs rendered, n6 marked; $out/page.png"
