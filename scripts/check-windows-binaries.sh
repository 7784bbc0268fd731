#!/usr/bin/env bash
# Checks the shipped DLLs of one architecture without running them:
#  - their format (PE32+ for x86_64, PE32 for i686);
#  - they import Windows' own DLLs only (no mingw runtime, no Wine library);
#  - kestrel.ax exports the module's four entry points and nothing else;
#  - kestrelmedia.dll exports every call and data symbol of the engine's
#    interface (platform/media/include/qtmedia.h).
#   scripts/check-windows-binaries.sh BIN_DIR x86_64|i686
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:?usage: check-windows-binaries.sh BIN_DIR x86_64|i686}
arch=${2:?usage: check-windows-binaries.sh BIN_DIR x86_64|i686}
case "$arch" in
  x86_64) format=pei-x86-64 ;;
  i686) format=pei-i386 ;;
  *) echo "unknown architecture $arch" >&2; exit 2 ;;
esac
objdump=$arch-w64-mingw32-objdump
system_dlls='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comctl32|bcrypt|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+)\.dll$'
failed=0
fail() { echo "FAIL: $*"; failed=1; }

imports() { "$objdump" -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z'; }
exports() { "$objdump" -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p'; }

for dll in kestrel.ax kestrelmedia.dll; do
  file=$bin/$dll
  [ -f "$file" ] || { fail "$file is missing"; continue; }
  found=$("$objdump" -f "$file" | sed -n 's/.*file format //p')
  [ "$found" = "$format" ] || fail "$dll is $found, not $format"
  for name in $(imports "$file"); do
    [[ "$name" =~ $system_dlls ]] || fail "$dll imports $name"
  done
  echo "$dll ($found) imports: $(imports "$file" | sort | paste -sd' ' -)"
done

want=$(printf '%s\n' DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer)
got=$(exports "$bin/kestrel.ax" | sort)
[ "$got" = "$want" ] || fail "kestrel.ax exports: $(echo "$got" | paste -sd' ' -)"

# The interface's names, from the header's lists.
names=$(printf '%s\n' '#include "qtmedia.h"' \
  '#define QTM_NAME_OF_FUNCTION(ret, name, params, args, fail) @name@' \
  '#define QTM_NAME_OF_DATA(type, name) @name@' \
  'QTM_ALL_FUNCTIONS(QTM_NAME_OF_FUNCTION) QTM_ALL_DATA(QTM_NAME_OF_DATA)' |
  "$arch-w64-mingw32-gcc" -E -P -x c -I"$here/platform/media/include" - | grep -o '@[A-Za-z0-9_]*@' | tr -d @ | sort -u)
engine_exports=$(exports "$bin/kestrelmedia.dll" | sort -u)
missing=$(comm -23 <(echo "$names") <(echo "$engine_exports"))
[ -z "$missing" ] || fail "kestrelmedia.dll lacks: $(echo "$missing" | paste -sd' ' -)"
echo "kestrelmedia.dll exports $(echo "$engine_exports" | wc -l) names; the interface has $(echo "$names" | wc -l)"
exit $failed
