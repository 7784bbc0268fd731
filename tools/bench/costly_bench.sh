#!/usr/bin/env bash
# Small movies that cost much to open or play (scripts/malformed/
# make-costly.py, made by the build into build/fixtures/costly), each loaded
# by the filter in a process of its own: the Load's status, wall-clock and
# processor seconds and the most memory held meanwhile, then a play without
# a clock stopped after 2 s and the time the Stop took. A process that does
# not end within LIMIT seconds (default 120) is cut short.
# The goal: every file loaded or refused within 1 s and 256 MB, every Stop
# within 2 s.
#   tools/bench/costly_bench.sh [BUILD_DIR] [LIMIT]
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath -m "${1:-$here/build}")
limit=${2:-120}
movies=$build/fixtures/costly
[ -s "$movies/costly.txt" ] || { echo "no $movies (build first)" >&2; exit 2; }
export KESTREL_BUILD=$build
"$here/kestrel" bench-costly --header < /dev/null
while read -r name what; do
  if ! timeout -k 5 "$limit" "$here/kestrel" bench-costly "$movies/$name.mov" < /dev/null; then
    printf '%-22s %8s %-22s  (no end within %s s: %s)\n' "$name" "" "" "$limit" "$what"
  fi
done < "$movies/costly.txt"
