#!/bin/sh
# make-exports.sh CC INCLUDE_DIR SPEC_IN SPEC_OUT: the export list from the
# engine header's function lists.
set -e
"$1" -E -P -x c -I"$2" "$3" | sed -e 's/ *;; */\n/g' | sed -e 's/^ *//' | grep '^@' > "$4"
