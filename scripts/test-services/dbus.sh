#!/usr/bin/env bash
# A private D-Bus session bus for the tests of the desktop's media controls: its own
# dbus-daemon listening on a unix socket under WORKDIR, never the desktop's bus.
#
#   bash scripts/test-services/dbus.sh start WORKDIR   start it and print the tests' variables
#   bash scripts/test-services/dbus.sh stop  WORKDIR   end it
#
# "start" prints NAME=value lines for the tests' environment:
#   DBUS_SESSION_BUS_ADDRESS   the private bus, for the programs the tests run (gdbus, dbus-send)
#   VORLIX_DBUS_ADDRESS        the same address; every test starts with a session bus address
#                              that reaches nothing (tests/support), and the tests that need the
#                              bus turn to this one (VORLIX_REQUIRE_DBUS)
set -u
. "$(dirname "$0")/../service-common.sh"
service_args "$@"
dir="$work/dbus"
sock="$dir/bus"

stop_server() {
  stop_pid "$dir/pid"
  rm -f "$sock"
}

case "$cmd" in
start)
  command -v dbus-daemon >/dev/null || { echo "dbus-daemon is not installed (package dbus-daemon)" >&2; exit 1; }
  stop_server
  mkdir -p "$dir"
  # The session configuration of the system, listening only on this socket. The daemon forks
  # into the background and prints its address and process id.
  if ! out=$(dbus-daemon --session --address="unix:path=$sock" --nopidfile --fork \
               --print-address=1 --print-pid=1 </dev/null 2>"$dir/daemon.log"); then
    echo "dbus-daemon did not start; see $dir/daemon.log" >&2
    exit 1
  fi
  address=$(sed -n 1p <<< "$out")
  pid=$(sed -n 2p <<< "$out")
  echo "$pid" > "$dir/pid"
  for _ in $(seq 1 50); do
    if [ -S "$sock" ] && DBUS_SESSION_BUS_ADDRESS="$address" dbus-send --session --print-reply \
         --dest=org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.GetId >/dev/null 2>&1; then
      echo "DBUS_SESSION_BUS_ADDRESS=$address"
      echo "VORLIX_DBUS_ADDRESS=$address"
      exit 0
    fi
    sleep 0.1
  done
  echo "the private session bus does not answer; see $dir/daemon.log" >&2
  stop_server
  exit 1
  ;;
stop)
  stop_server
  ;;
*)
  echo "unknown command $cmd" >&2
  exit 2
  ;;
esac
