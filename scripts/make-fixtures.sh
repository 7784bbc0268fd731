#!/usr/bin/env bash
# Generates the media fixtures into OUT with the ffmpeg command-line tool,
# deterministically (-bitexact, lavfi sources), with ffprobe's view of each
# beside it as the oracle. Each script in scripts/fixtures/ adds one family.
set -euo pipefail
out=$(realpath -m "$1")
mkdir -p "$out"
here=$(cd "$(dirname "$0")" && pwd)
export FIXTURES_OUT=$out
for part in "$here"/fixtures/*.sh; do
  bash "$part"
done
