#!/usr/bin/env bash
# Fails, naming them, when tracked C and C++ files differ from what
# clang-format 14 makes of them with the checked-in .clang-format.
#   scripts/check-format.sh        (scripts/check-format.sh --fix rewrites them)
set -uo pipefail
cd "$(dirname "$0")/.."
"$(dirname "$0")/install-packages.sh"
fix=0
[ "${1:-}" = "--fix" ] && fix=1
off=()
while IFS= read -r f; do
  clang-format-14 --dry-run -Werror "$f" > /dev/null 2>&1 || off+=("$f")
done < <(git ls-files '*.c' '*.cc' '*.cpp' '*.h')
if [ ${#off[@]} -eq 0 ]; then
  echo "check-format: every file as clang-format makes it"
  exit 0
fi
if [ $fix -eq 1 ]; then
  clang-format-14 -i "${off[@]}"
  echo "check-format: rewrote ${#off[@]} file(s)"
  exit 0
fi
printf 'check-format: off format: %s\n' "${off[@]}"
echo "check-format: ${#off[@]} file(s) differ; scripts/check-format.sh --fix rewrites them"
exit 1
