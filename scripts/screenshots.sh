#!/usr/bin/env bash
# Pictures of the main window for reviewing its layout: a fresh demo profile against the
# sample news server, the first newsgroup and its first article shown, saved as PNG files at
# 1000x700 and 1600x1000, at scale factor 1 and 2.
# Usage: scripts/screenshots.sh OUTPUT-FOLDER [build folder]
set -eu
out=${1:?usage: scripts/screenshots.sh OUTPUT-FOLDER [build folder]}
build=${2:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
server_bin="$build/tools/samplenews/vorlix-sample-news"
shot_bin="$build/tools/screenshots/vorlix-screenshots"
mkdir -p "$out"
work=$(mktemp -d)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

user=$(id -un 2>/dev/null || echo Default)
for scale in 1 2; do
  home="$work/home$scale"
  files="$home/$user/Files"
  mkdir -p "$files"
  log="$work/server$scale.log"
  "$server_bin" --port 0 --data "$root/data/sample-news" --demo-profile "$files" > "$log" 2>&1 &
  server_pid=$!
  for _ in $(seq 1 50); do
    grep -q '^listening on' "$log" && break
    sleep 0.1
  done
  port=$(sed -n 's/^listening on \([0-9]*\).*/\1/p' "$log")
  [ -n "$port" ] || { echo "The sample news server did not start:" >&2; cat "$log" >&2; exit 1; }
  cat > "$home/settings.ini" <<INI
[Software]
QuenradTech\\Vorlix\\StartupSaved=1
QuenradTech\\Vorlix\\UserName=Demo Reader
QuenradTech\\Vorlix\\EmailAddress=demo.reader@example.invalid
QuenradTech\\Vorlix\\NewsServer=127.0.0.1:$port
INI
  prefix=main
  [ "$scale" = 2 ] && prefix=main-scale2
  VORLIX_HOME="$home" QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=$scale \
    "$shot_bin" --out "$out" --prefix "$prefix" --size 1000x700 --size 1600x1000
  kill "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
  server_pid=
done
