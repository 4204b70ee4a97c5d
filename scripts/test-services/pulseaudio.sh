#!/usr/bin/env bash
# A private PulseAudio server for the speech and audio tests: its own runtime and home
# folders under WORKDIR, anonymous access over a unix socket, and null sinks (no sound card
# needed). "start WORKDIR" prints the variables the tests read; "stop WORKDIR" ends it.
set -u
. "$(dirname "$0")/../service-common.sh"
service_args "$@"
dir="$work/pulse"
sock="$dir/native"

stop_server() {
  stop_pid "$dir/pid"
}

case "$cmd" in
start)
  command -v pulseaudio >/dev/null || { echo "pulseaudio is not installed" >&2; exit 1; }
  stop_server
  mkdir -p "$dir/runtime" "$dir/home" "$dir/config"
  chmod 700 "$dir/runtime"
  # The server reads only this script: a socket without authentication, two null sinks
  # (the default one and a spare that tests may unload to make a device disappear).
  # norewinds=1 lets a new stream start at once instead of after pre-rendered silence.
  cat > "$dir/server.pa" <<PA
load-module module-native-protocol-unix socket=$sock auth-anonymous=1
load-module module-null-sink sink_name=vorlix_null sink_properties=device.description=Vorlix_Null_Output rate=22050 channels=1 norewinds=1
load-module module-null-sink sink_name=vorlix_spare sink_properties=device.description=Vorlix_Spare_Output rate=44100 channels=2 norewinds=1
set-default-sink vorlix_null
PA
  (
    export HOME="$dir/home" XDG_RUNTIME_DIR="$dir/runtime" XDG_CONFIG_HOME="$dir/config"
    unset PULSE_SERVER
    exec pulseaudio -n --daemonize=no --system=false --exit-idle-time=-1 --disallow-exit \
      --use-pid-file=no --log-target=file:"$dir/server.log" -F "$dir/server.pa" \
      </dev/null >/dev/null 2>&1
  ) &
  echo $! > "$dir/pid"
  for _ in $(seq 1 100); do
    if [ -S "$sock" ] && PULSE_SERVER="unix:$sock" pactl info >/dev/null 2>&1; then
      echo "PULSE_SERVER=unix:$sock"
      echo "VORLIX_PULSE_SPARE_SINK=vorlix_spare"
      exit 0
    fi
    sleep 0.1
  done
  echo "PulseAudio did not start; see $dir/server.log" >&2
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
