#!/usr/bin/env bash
# Runs every test of the build folder given as $1, with the servers the tests need
# (a private PulseAudio with a null sink, a private INN news server) started on loopback
# and stopped afterwards.
#
# Under CI (CI=true in the environment) every service must start: when one does not, the
# script stops with an error before running any test, and the tests that need a service fail
# instead of skipping. Outside CI a service that does not start only gives a warning, and
# the tests that need it skip.
set -u
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /tmp/vorlix-ci-XXXXXX)
export VORLIX_TEST_WORK=$work
export QT_QPA_PLATFORM=offscreen

cleanup() {
  for s in "$root"/scripts/test-services/*.sh; do
    [ -f "$s" ] && bash "$s" stop "$work" >/dev/null 2>&1
  done
  rm -rf "$work"
}
trap cleanup EXIT

if [ "${CI:-}" = true ]; then
  echo "CI=true: every test service must start, and a test that needs a missing one fails"
fi

# Each service script prints lines of the form NAME=value for the tests' environment.
for s in "$root"/scripts/test-services/*.sh; do
  [ -f "$s" ] || continue
  if out=$(bash "$s" start "$work"); then
    while IFS= read -r line; do
      case "$line" in *=*) export "${line?}";; esac
    done <<< "$out"
  elif [ "${CI:-}" = true ]; then
    echo "error: $(basename "$s") did not start; under CI every test service must run" >&2
    exit 1
  else
    echo "warning: $(basename "$s") did not start; the tests that need it skip" >&2
  fi
done

shift || true
cd "$build" && ctest --output-on-failure -j 2 --timeout 600 "$@"
