# Sourced by the scripts of scripts/test-services: their command line ("start|stop WORKDIR",
# read into $cmd and $work) and stopping a server by its pid file.

service_args() {
  cmd=${1:-}
  work=${2:-}
  if [ -z "$cmd" ] || [ -z "$work" ]; then
    echo "usage: $0 start|stop WORKDIR" >&2
    exit 2
  fi
}

# A server that has ended but was not yet collected by its parent counts as gone.
alive() {
  local state
  state=$(ps -o stat= -p "$1" 2>/dev/null) || return 1
  [ -n "$state" ] && [ "${state:0:1}" != Z ]
}

# Ends the process named in the pid file (TERM, then KILL after 5 s) and removes the file.
stop_pid() {
  local file=$1 pid
  [ -f "$file" ] || return 0
  pid=$(cat "$file")
  if [ -n "$pid" ] && alive "$pid"; then
    kill "$pid" 2>/dev/null
    for _ in $(seq 1 50); do alive "$pid" || break; sleep 0.1; done
    alive "$pid" && kill -9 "$pid" 2>/dev/null
  fi
  rm -f "$file"
}
