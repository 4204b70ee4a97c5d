#!/usr/bin/env bash
# Installs the Debian packages Vorlix needs to build, run and test.
# Usage: scripts/install-deps.sh [build|test]
#   build: what building and running the program needs
#   test:  also the servers the tests start (INN, PulseAudio) and their tools
set -eu
what=${1:-build}

build_pkgs="cmake g++ make pkg-config qt6-base-dev libgl-dev libespeak-ng-dev espeak-ng-data \
flite1-dev libmp3lame-dev libtag1-dev libgmime-3.0-dev libsndfile1-dev libsoxr-dev libpcre2-dev libpulse-dev libssl3 \
fonts-dejavu-core xdg-utils ccache libqt6svg6"
test_pkgs="pulseaudio pulseaudio-utils sox libsox-fmt-mp3 lame python3-mutagen python3-feedparser inn2 xvfb dbus-daemon dbus-bin libglib2.0-bin"

pkgs=$build_pkgs
[ "$what" = test ] && pkgs="$pkgs $test_pkgs"

missing=""
for p in $pkgs; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" != 0 ]; then
  echo "Vorlix needs these Debian packages. Run as root:"
  echo "  apt-get update && apt-get install -y$missing"
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
# The news server package must not start its own instance on port 119 while it installs:
# the tests run a private instance of their own.
policy=/usr/sbin/policy-rc.d
made_policy=0
case "$missing" in *inn2*)
  if [ ! -e "$policy" ]; then printf '#!/bin/sh\nexit 101\n' > "$policy"; chmod 755 "$policy"; made_policy=1; fi
  # INN's configure step fails on a host name without a domain unless inn.conf names one.
  mkdir -p /etc/news
  if [ -f /etc/news/inn.conf ] && ! grep -q '^domain:' /etc/news/inn.conf; then echo "domain: localdomain" >> /etc/news/inn.conf; fi
  ;;
esac
apt-get update -qq
apt-get install -y -qq --no-install-recommends $missing || {
  # A first install of inn2 may stop in its configure step; give it a domain and finish it.
  if [ -f /etc/news/inn.conf ] && ! grep -q '^domain:' /etc/news/inn.conf; then
    echo "domain: localdomain" >> /etc/news/inn.conf
  fi
  dpkg --configure -a
  apt-get install -y -qq --no-install-recommends $missing
}
[ "$made_policy" = 1 ] && rm -f "$policy"
exit 0
