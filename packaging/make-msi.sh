#!/usr/bin/env bash
# The installer package for 64-bit Windows, OUT_DIR/kestrel-VERSION-x64.msi,
# from BIN's kestrel.ax and kestrelmedia.dll, with the package's own actions
# in kestrel-setup-actions.dll (packaging/kestrel.wxs).
# VERSION is kestrel.ax's file version (both modules must carry the same);
# --version gives the package another (tests make older and newer ones).
#   make-msi.sh [--version X.Y.Z] BIN OUT_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
version=
if [ "${1:-}" = --version ]; then
  version=$2
  shift 2
fi
[ $# -eq 2 ] || { echo "usage: $0 [--version X.Y.Z] BIN OUT_DIR" >&2; exit 2; }
bin=$(realpath "$1")
out=$(realpath -m "$2")
files=(kestrel.ax kestrelmedia.dll)
for f in "${files[@]}" kestrel-setup-actions.dll; do
  [ -f "$bin/$f" ] || { echo "make-msi.sh: no $bin/$f (build first)" >&2; exit 1; }
done
filter_version=$("$here/pe_version.py" "$bin/kestrel.ax")
engine_version=$("$here/pe_version.py" "$bin/kestrelmedia.dll")
if [ "$filter_version" != "$engine_version" ]; then
  echo "make-msi.sh: kestrel.ax is $filter_version but kestrelmedia.dll is $engine_version" >&2
  exit 1
fi
version=${version:-$filter_version}
# One product code per version, made from the upgrade code: a package of
# the version already installed finds itself installed and changes nothing.
upgrade_code=639A0800-A9FF-4007-8926-3DCC8C26DC05
product_code=$(python3 -c 'import sys, uuid; print("{%s}" % str(uuid.uuid5(uuid.UUID(sys.argv[1]), sys.argv[2])).upper())' \
  "$upgrade_code" "$version")
bytes=0
for f in "${files[@]}"; do bytes=$((bytes + $(stat -c %s "$bin/$f"))); done
size_kb=$(((bytes + 1023) / 1024))

mkdir -p "$out"
msi=$out/kestrel-$version-x64.msi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# wixl finds the files named in the source in the folder it runs in.
(cd "$bin" && wixl -a x64 -D Version="$version" -D ProductCode="$product_code" -D SizeKb="$size_kb" \
  -o "$work/kestrel.msi" "$here/kestrel.wxs")
# kestrel.ax registers itself (DllRegisterServer) and unregisters itself
# (DllUnregisterServer): the SelfReg table, which wixl does not write.
printf 'File_\tCost\ns72\tI2\nSelfReg\tFile_\nkestrel.ax\t\n' >"$work/SelfReg.idt"
msibuild "$work/kestrel.msi" -i "$work/SelfReg.idt"
mv "$work/kestrel.msi" "$msi"
echo "$msi"
