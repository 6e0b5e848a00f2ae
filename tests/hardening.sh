#!/usr/bin/env bash
# The built program carries the hardening of the build, read off its ELF
# headers: PIE, full RELRO (RELRO and BIND_NOW), stack protector, fortified
# calls.
#   hardening.sh PROGRAM
set -u
program=$1
command -v readelf >/dev/null || { echo "SKIP: readelf is not installed"; exit 77; }
headers=$(readelf -hlW "$program")
dynamic=$(readelf -dW "$program")
symbols=$(readelf --dyn-syms -W "$program")
failed=0
check() {
  if grep -qE "$2" <<<"$3"; then echo "ok: $1"; else echo "FAIL: no $1"; failed=1; fi
}
check "PIE" 'Type: +DYN' "$headers"
check "PIE flag" 'FLAGS_1.*PIE' "$dynamic"
check "RELRO segment" 'GNU_RELRO' "$headers"
check "BIND_NOW" 'BIND_NOW|FLAGS_1.*NOW' "$dynamic"
check "stack protector" '__stack_chk_fail' "$symbols"
check "fortified calls" '__[a-z]*(printf|cpy|cat|move|set|read|gets)_chk' "$symbols"
exit $failed
