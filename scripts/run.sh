#!/usr/bin/env bash
# Starts Vorlix. On a machine where no news server is configured yet it offers the demo
# (a sample news server with sample newsgroups) first.
set -eu
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
home="${VORLIX_HOME:-${XDG_DATA_HOME:-$HOME/.local/share}/Vorlix}"
config="$home/$(id -un 2>/dev/null || echo Default)/Files/Config.chl"
if [ ! -s "$config" ] && [ -t 0 ]; then
  printf 'No news server is configured yet. Try the demo with sample newsgroups first? [y/N] '
  read -r answer || answer=n
  case "$answer" in
    [yY]*) exec bash "$root/scripts/demo.sh" "$build" ;;
  esac
fi
exec "$build/src/gui/vorlix"
