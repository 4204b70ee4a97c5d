#!/usr/bin/env bash
# Runs every benchmark executable (bench_*) of the build folder given as $1, with the same
# servers the tests use.
set -u
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /tmp/vorlix-bench-XXXXXX)
export VORLIX_TEST_WORK=$work QT_QPA_PLATFORM=offscreen
cleanup() {
  for s in "$root"/scripts/test-services/*.sh; do [ -f "$s" ] && bash "$s" stop "$work" >/dev/null 2>&1; done
  rm -rf "$work"
}
trap cleanup EXIT
for s in "$root"/scripts/test-services/*.sh; do
  [ -f "$s" ] || continue
  if out=$(bash "$s" start "$work"); then
    while IFS= read -r line; do case "$line" in *=*) export "${line?}";; esac; done <<< "$out"
  fi
done
status=0
for b in $(find "$build/bench" -type f -executable -name 'bench_*' | sort); do
  echo "== $(basename "$b")"
  VORLIX_HOME=$(mktemp -d "$work/home-XXXXXX") "$b" || status=1
done
exit $status
