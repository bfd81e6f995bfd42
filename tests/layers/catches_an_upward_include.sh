#!/usr/bin/env bash
# The layer check refuses a tree whose package layer includes the store's
# header, naming the file and the include, and passes the same tree without
# it.
set -uo pipefail
check=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/src/package" "$tree/src/store" "$tree/app"
printf '#include "store/progress_store.h"\n' >"$tree/src/package/package.h"
printf '#include "package/package.h"\n' >"$tree/src/store/progress_store.h"
if output=$("$check" "$tree" 2>&1); then
  echo "FAIL: the upward include passed" >&2
  exit 1
fi
grep -q 'src/package/package.h:1 includes store/progress_store.h' <<<"$output" || {
  echo "FAIL: not the message expected: $output" >&2
  exit 1
}
printf '#include "platform/errors.h"\n' >"$tree/src/package/package.h"
"$check" "$tree" || { echo "FAIL: a tree that points down failed" >&2; exit 1; }
