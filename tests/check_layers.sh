#!/bin/bash
# The product folders keep their layers: the real tree passes tools/check-layers, and a
# tree with an upward include, an include between independent folders or a header
# circle fails it, naming the file.
# Usage: check_layers.sh <source-dir>
set -u
source=$1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check="python3 $source/tools/check-layers"

$check "$source" || fail "the source tree breaks its layers"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree() {  # a small tree: <folder/file> "<include>" pairs
  rm -rf "$work/tree" && mkdir -p "$work/tree"
  while [ $# -gt 0 ]; do
    mkdir -p "$work/tree/$(dirname "$1")"
    printf '#include "%s"\n' "$2" >>"$work/tree/$1"
    shift 2
  done
}
expect_failure() {  # <what> <text the report must contain>
  out=$($check "$work/tree")
  [ $? -eq 1 ] || fail "$1: not refused"
  grep -qF -- "$2" <<<"$out" || fail "$1: report lacks \"$2\": $out"
}

tree app/main.cpp ui/dialog.h ui/dialog.h install/worker.h install/worker.h base/context.h \
  system/session.cpp base/context.h
$check "$work/tree" >/dev/null || fail "a layered tree is refused"

tree system/session.cpp install/paths.h install/paths.h base/context.h
expect_failure "upward include" "system/session.cpp includes install/paths.h: install is above system"

tree oss/oss_client.cpp system/install_log.h
expect_failure "sideways include" "oss/oss_client.cpp includes system/install_log.h: oss and system are independent"

tree base/a.h base/b.h base/b.h base/a.h
expect_failure "header circle" "include circle: base/a.h -> base/b.h -> base/a.h"

[ $failures -eq 0 ] && echo "layers: all checks passed"
exit $((failures > 0))
