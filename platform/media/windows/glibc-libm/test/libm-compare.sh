#!/usr/bin/env bash
# Compares glibc's libm built for Windows (libglibcm.a) with the system's
# glibc, bit for bit: what libm_compare prints natively and, built for
# Windows, under Wine, once for each set of variants glibc chooses from on
# this processor: with every feature, without AVX2 and FMA (the AVX ones,
# or FMA4 where the processor has it), and without AVX (the SSE2 ones).
# Where a block of inputs differs, prints the first inputs that differ.
#   libm-compare.sh NATIVE_PROGRAM WINDOWS_PROGRAM WINE
# with WINEPREFIX set.
set -euo pipefail
native=${1:?usage: libm-compare.sh NATIVE_PROGRAM WINDOWS_PROGRAM WINE}
windows=${2:?usage: libm-compare.sh NATIVE_PROGRAM WINDOWS_PROGRAM WINE}
wine=${3:?usage: libm-compare.sh NATIVE_PROGRAM WINDOWS_PROGRAM WINE}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export WINEDEBUG=-all
failed=0

run() { # HWCAPS MODE... : native into $work/native, Windows into $work/windows
  local hwcaps=$1
  shift
  GLIBC_TUNABLES=glibc.cpu.hwcaps=$hwcaps "$native" "$hwcaps" "$@" >"$work/native" &
  local pid=$!
  "$wine" "$windows" "$hwcaps" "$@" >"$work/windows" || { echo "FAIL: $windows $hwcaps $* exited with $?"; failed=1; }
  wait "$pid" || { echo "FAIL: $native $hwcaps $* exited with $?"; failed=1; }
}

for hwcaps in - -AVX2,-FMA -AVX,-AVX2,-FMA,-FMA4; do
  run "$hwcaps" digest
  echo "$hwcaps: native $(head -n 1 "$work/native"); Windows $(head -n 1 "$work/windows")"
  cp "$work/native" "$work/digest$hwcaps"
  if cmp -s "$work/native" "$work/windows"; then
    echo "$hwcaps: the same bits and errno for $(awk '$2 == "inputs" { n += $3 } END { print n }' "$work/native") inputs"
    continue
  fi
  failed=1
  head -n 1 "$work/native" | cmp -s - <(head -n 1 "$work/windows") ||
    echo "FAIL: $hwcaps: the variants are chosen by other features"
  diff <(sed 1d "$work/native") <(sed 1d "$work/windows") | sed -n 's/^< \([a-z0-9]*\) \([0-9]*\) .*/\1 \2/p' |
    awk '!seen[$1]++' >"$work/blocks"
  while read -r function block; do
    echo "FAIL: $hwcaps: $function differs in block $block (index x y -> result result2 errno; < native, > Windows):"
    run "$hwcaps" dump "$function" "$block"
    diff "$work/native" "$work/windows" | grep '^[<>]' | head -n 12 || true
  done <"$work/blocks"
done

# How many functions each set of variants changes: the masks took effect.
for hwcaps in -AVX2,-FMA -AVX,-AVX2,-FMA,-FMA4; do
  echo "$hwcaps: $(diff <(sed 1d "$work/digest-") <(sed 1d "$work/digest$hwcaps") |
    sed -n 's/^< \([a-z0-9]*\) .*/\1/p' | sort -u | paste -sd' ' -) return other bits than with every feature"
done
exit $failed
