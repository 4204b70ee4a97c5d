#!/usr/bin/env bash
# A private X server (Xvfb) for the window tests that must see what a real display shows:
# they compare the X server's picture of a window with a fresh rendering of it.
#
#   bash scripts/test-services/xvfb.sh start WORKDIR   start it; prints DISPLAY=:N
#   bash scripts/test-services/xvfb.sh stop  WORKDIR   stop it
#
# The server picks a free display number itself (-displayfd), listens on no TCP port and
# has one 1280x1024 screen of 24-bit colour, so pixels compare exactly.
set -u
. "$(dirname "$0")/../service-common.sh"
service_args "$@"
dir="$work/xvfb"

stop_server() {
  stop_pid "$dir/pid"
}

case "$cmd" in
start)
  command -v Xvfb >/dev/null || { echo "Xvfb is not installed (package xvfb)" >&2; exit 1; }
  stop_server
  mkdir -p "$dir"
  : > "$dir/display"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$dir/display" \
    </dev/null >"$dir/server.log" 2>&1 &
  echo $! > "$dir/pid"
  for _ in $(seq 1 100); do
    number=$(head -n 1 "$dir/display" 2>/dev/null)
    if [ -n "$number" ]; then
      echo "DISPLAY=:$number"
      exit 0
    fi
    kill -0 "$(cat "$dir/pid")" 2>/dev/null || break
    sleep 0.1
  done
  echo "Xvfb did not start; see $dir/server.log" >&2
  stop_server
  exit 1
  ;;
stop)
  stop_server
  ;;
*)
  echo "usage: $0 start|stop WORKDIR" >&2
  exit 2
  ;;
esac
