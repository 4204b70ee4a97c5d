#!/usr/bin/env bash
# Demo mode: starts the sample news server on the loopback address and opens Vorlix with a
# demo profile of its own (settings and data under ~/.local/share/Vorlix-demo), pointed at it.
# Usage: scripts/demo.sh [build folder]
set -eu
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
server_bin="$build/tools/samplenews/vorlix-sample-news"
vorlix_bin="$build/src/gui/vorlix"
home="${VORLIX_DEMO_HOME:-${XDG_DATA_HOME:-$HOME/.local/share}/Vorlix-demo}"
user=$(id -un 2>/dev/null || echo Default)
files="$home/$user/Files"
mkdir -p "$files"

log=$(mktemp)
"$server_bin" --port 0 --data "$root/data/sample-news" --demo-profile "$files" > "$log" 2>&1 &
server_pid=$!
trap 'kill $server_pid 2>/dev/null || true; rm -f "$log"' EXIT
for _ in $(seq 1 50); do
  grep -q '^listening on' "$log" && break
  sleep 0.1
done
port=$(sed -n 's/^listening on \([0-9]*\).*/\1/p' "$log")
if [ -z "$port" ]; then
  echo "The sample news server did not start:" >&2
  cat "$log" >&2
  exit 1
fi
host="127.0.0.1:$port"
echo "Sample news server on $host; demo profile in $home"

# The first start made the profile (servers, groups, the first thread marked for speaking);
# the sample server gets a new port each run, so the demo server entry is pointed at it.
config="$files/Config.chl"
sed -i "s/^NewsServer|127\.0\.0\.1:[0-9]*|/NewsServer|$host|/" "$config"

settings="$home/settings.ini"
if [ ! -f "$settings" ]; then
  cat > "$settings" <<INI
[Software]
QuenradTech\\Vorlix\\StartupSaved=1
QuenradTech\\Vorlix\\UserName=Demo Reader
QuenradTech\\Vorlix\\EmailAddress=demo.reader@example.invalid
QuenradTech\\Vorlix\\NewsServer=$host
INI
else
  sed -i "s/^QuenradTech\\\\Vorlix\\\\NewsServer=127\.0\.0\.1:[0-9]*/QuenradTech\\\\Vorlix\\\\NewsServer=$host/" "$settings"
fi

VORLIX_HOME="$home" "$vorlix_bin"
