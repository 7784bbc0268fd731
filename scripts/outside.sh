#!/usr/bin/env bash
# What the outside sees of a build, as text files to compare between two
# trees (before and after a change that must not change behaviour):
#   outside.sh record BUILD_DIR OUT_DIR   writes OUT_DIR/*.txt
#   outside.sh compare DIR_A DIR_B        diff of two records; 0 when equal
# A record holds the modules' export tables, the interface identifiers and
# the type library's bytes, the registry keys regsvr32 writes, the log lines
# of a play of the bundled sample (times of day taken out), and every tool's
# usage text and JSON (with exit status) on the top-level fixtures.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
WINE=/usr/lib/wine/wine64
OBJDUMP=x86_64-w64-mingw32-objdump
KESTREL_CLSID="{E6E6E32E-BB36-4AAA-BBC3-D716E77557CC}"

usage() {
  echo "usage: $0 record BUILD_DIR OUT_DIR | compare DIR_A DIR_B" >&2
  exit 2
}

# The export table of a PE module: ordinals and names, no addresses.
exports() {
  "$OBJDUMP" -p "$1" | awk '/^\[Ordinal\/Name Pointer\] Table/ { on = 1; next } on && NF == 0 { on = 0 } on'
}

# The type library's sha256, with what widl stamps into it at each build
# masked: the time in "Created by WIDL version V at TIME" and the 32-bit
# hash in the entry that follows that text.
tlb_digest() {
  python3 - "$1" <<'EOF'
import hashlib, re, sys
data = bytearray(open(sys.argv[1], "rb").read())
m = re.search(rb"Created by WIDL version [^\n]* at ([^\n]*)\n", data)
if m:
    data[m.start(1):m.end(1)] = b"T" * (m.end(1) - m.start(1))
    data[m.end() + 4:m.end() + 8] = bytes(4)
print(hashlib.sha256(data).hexdigest(), len(data), "bytes")
EOF
}

# Keys and values under the classes subtrees a filter registers in, as
# "reg export" writes them, one file per subtree concatenated.
export_classes() {
  local out=$1 work=$2 sub
  : >"$out"
  for sub in CLSID "Media Type" TypeLib Interface Filter; do
    rm -f "$work/export.reg"
    "$WINE" reg export "HKEY_LOCAL_MACHINE\\Software\\Classes\\$sub" "Z:$(echo "$work/export.reg" | sed 's|/|\\|g')" /y \
      >/dev/null 2>&1 </dev/null || true
    if [ -f "$work/export.reg" ]; then
      iconv -f UTF-16LE -t UTF-8 "$work/export.reg" | tr -d '\r' | sed '1s/^\xEF\xBB\xBF//' >>"$out"
    fi
  done
}

# Lines of b that a does not hold, in b's order: what regsvr32 added. Keys
# whose values differ appear with their changed lines.
registry_written() {
  python3 - "$1" "$2" <<'EOF'
import sys
def blocks(path):
    out, key = {}, None
    for line in open(path, encoding="utf-8", errors="replace"):
        line = line.rstrip("\n")
        if line.startswith("["):
            key = line
            out.setdefault(key, [])
        elif key and line:
            out[key].append(line)
    return out
a, b = blocks(sys.argv[1]), blocks(sys.argv[2])
for key, lines in b.items():
    old = set(a.get(key, []))
    new = [l for l in lines if l not in old]
    if key not in a or new:
        print(key)
        for l in new:
            print(l)
for key in a:
    if key not in b:
        print("removed " + key)
EOF
}

record() {
  local build bin out work prefix docs log
  build=$(realpath "$1")
  out=$(realpath -m "$2")
  bin=$build/bin
  mkdir -p "$out"
  work=$(mktemp -d)
  trap 'rm -rf "$work"' RETURN
  export WINEPREFIX=$build/wineprefix WINEDEBUG=-all
  prefix=$WINEPREFIX
  "$here/scripts/wine-prefix.sh" up "$prefix" "$bin"
  winpath() { echo "Z:$(realpath -m "$1" | sed 's|/|\\|g')"; }

  # Modules: export tables; the interfaces' identifiers and the type library.
  {
    for module in kestrel.ax kestrelmedia.dll; do
      echo "== $module"
      exports "$bin/$module"
    done
  } >"$out/exports.txt"
  {
    local idl
    idl=$(find "$build/windows" -path '*/idl/kestrel_idl_i.c' | head -n 1)
    grep -E 'DEFINE_GUID|MIDL_DEFINE_GUID' "$idl" | sort
    echo "== kestrel.tlb (widl's build time masked)"
    tlb_digest "$(dirname "$idl")/kestrel.tlb"
    echo "== identifiers the filter's sources define"
    grep -rhoE '[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}|0x[0-9a-fA-F]{8}, ?0x[0-9a-fA-F]{4}, ?0x[0-9a-fA-F]{4}' \
      "$here/src" | tr 'a-f' 'A-F' | sort -u
  } >"$out/identifiers.txt"

  # Registry: what regsvr32 adds to the classes, after an unregistration.
  "$WINE" regsvr32 /u /s "$(winpath "$bin/kestrel.ax")" </dev/null >/dev/null 2>&1 || true
  export_classes "$work/without.reg" "$work"
  "$WINE" regsvr32 /s "$(winpath "$bin/kestrel.ax")" </dev/null >/dev/null 2>&1
  export_classes "$work/with.reg" "$work"
  registry_written "$work/without.reg" "$work/with.reg" | sed "s|$(winpath "$bin" | sed 's/\\/\\\\\\\\/g')|BIN|g" \
    >"$out/registry.txt"

  # The log of a play of the bundled sample, times of day taken out.
  docs="$prefix/drive_c/users/$(whoami)/Documents"
  log="$docs/KestrelFilter.log"
  {
    echo "== kestrel-play --headless h264_bframes.mov"
    "$WINE" "$bin/kestrel-play.exe" --headless "$(winpath "$build/fixtures/h264_bframes.mov")" </dev/null 2>&1 |
      tr -d '\r' | sed -E 's/[0-9]+(\.[0-9]+)? frames per second/N frames per second/; s/[0-9]+(\.[0-9]+)? ?(ms|s)\b/TIME/g' || true
    echo "== KestrelFilter.log"
    if [ -f "$log" ]; then
      iconv -f UTF-8 -t UTF-8 -c "$log" | tr -d '\r' | sed -E 's/^[0-9]{2}:[0-9]{2}:[0-9]{2} - /hh:mm:ss - /'
    fi
  } >"$out/play-log.txt"

  # Tools: usage texts, then the JSON of every top-level fixture.
  {
    for tool in play info probe page; do
      echo "== kestrel-$tool --help"
      set +e
      "$WINE" "$bin/kestrel-$tool.exe" --help </dev/null >"$work/o" 2>"$work/e"
      echo "exit $?"
      set -e
      tr -d '\r' <"$work/o"
      tr -d '\r' <"$work/e"
    done
  } >"$out/usage.txt"
  : >"$out/json.txt"
  local movie name attempt status
  for movie in "$build"/fixtures/*; do
    name=$(basename "$movie")
    case "$name" in
      *.json | *.s16le | *.s24le | *.s32le | *.u8 | *.md5 | *.txt | *.times | *.timescale) continue ;;
      # What the tests leave beside the fixtures (play_tool_tests,
      # reason_tool_tests).
      play_tool* | reason_*) continue ;;
    esac
    [ -f "$movie" ] || continue
    for tool in "info --json" "probe --json"; do
      # A run that fails without a word is Wine not starting the program
      # (it happens on a loaded machine): run it again once.
      for attempt in 1 2; do
        set +e
        # shellcheck disable=SC2086
        "$WINE" "$bin/kestrel-${tool%% *}.exe" ${tool#* } "$(winpath "$movie")" </dev/null >"$work/o" 2>"$work/e"
        status=$?
        set -e
        if [ $status -eq 0 ] || [ -s "$work/o" ] || [ -s "$work/e" ]; then break; fi
      done
      {
        echo "== kestrel-$tool $name: exit $status"
        tr -d '\r' <"$work/o" | sed "s|$(winpath "$build/fixtures" | sed 's/\\/\\\\\\\\/g')|FIXTURES|g"
        tr -d '\r' <"$work/e"
      } >>"$out/json.txt"
    done
  done
  echo "recorded $(cat "$out"/*.txt | wc -l) lines in $out"
}

case "${1:-}" in
  record)
    [ $# -eq 3 ] || usage
    record "$2" "$3"
    ;;
  compare)
    [ $# -eq 3 ] || usage
    if diff -ru "$2" "$3"; then
      echo "same outside: $(cat "$2"/*.txt | wc -l) lines in $(ls "$2" | wc -l) files"
    else
      exit 1
    fi
    ;;
  *) usage ;;
esac
