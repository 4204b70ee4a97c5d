#!/usr/bin/env bash
# Prints which Qt modules each library of a configured build folder links, one line each:
#   vorlix_core: Qt6::Core
# It reads what CMake generated for every target (the Qt module definitions that a target
# gets from each Qt module it links, directly or through another library, and the link line
# of programs), so it shows what the build really does, not what the CMake files mean to do.
#
#   bash scripts/layer-report.sh BUILD_DIR            the libraries and the program
#   bash scripts/layer-report.sh BUILD_DIR --all      every target, tests and benchmarks too
#   bash scripts/layer-report.sh BUILD_DIR --check    also exit 1 when a logic library links
#                                                     more than Qt Core (nntp and the layers
#                                                     above it: Qt Network as well; the
#                                                     logic tests' support: Qt Test as well)
# Needs a build folder made with the "Unix Makefiles" generator (the project's default).
set -u
build=${1:-}
shift || true
all=0
check=0
for a in "$@"; do
  case "$a" in
    --all) all=1 ;;
    --check) check=1 ;;
    *) echo "usage: $0 BUILD_DIR [--all] [--check]" >&2; exit 2 ;;
  esac
done
if [ -z "$build" ] || [ ! -f "$build/CMakeCache.txt" ]; then
  echo "usage: $0 BUILD_DIR [--all] [--check]   (BUILD_DIR: a configured CMake build folder)" >&2
  exit 2
fi
build=$(cd "$build" && pwd)

module_of() {
  case "$1" in
    CORE) echo Core ;; GUI) echo Gui ;; WIDGETS) echo Widgets ;; NETWORK) echo Network ;;
    TESTLIB) echo Test ;; DBUS) echo DBus ;; OPENGL) echo OpenGL ;; OPENGLWIDGETS) echo OpenGLWidgets ;;
    PRINTSUPPORT) echo PrintSupport ;; CONCURRENT) echo Concurrent ;; XML) echo Xml ;; SQL) echo Sql ;;
    SVG) echo Svg ;; SVGWIDGETS) echo SvgWidgets ;; *) echo "$1" ;;
  esac
}

# What each logic library may link; anything not named here is a window library or a program.
declare -A may=(
  [vorlix_core]="Core"
  [vorlix_news]="Core"
  [vorlix_preprocess]="Core"
  [vorlix_speech]="Core"
  [vorlix_audio]="Core"
  [vorlix_nntp]="Core Network"
  [vorlix_speaking]="Core Network"
  [vorlix_render]="Core Network"
  [vorlix_mpris]="Core Network DBus"
  [vorlix_testsupport]="Core Test"
)

found=0
bad=0
while IFS= read -r flags; do
  dir=$(dirname "$flags")
  target=$(basename "$dir" .dir)
  kind=program
  if [ -f "$dir/link.txt" ] && grep -qE '(^|/| )(ar|llvm-ar|gcc-ar)[^ ]* +q?c' "$dir/link.txt"; then
    kind=library
  fi
  if [ "$all" = 0 ] && [[ "$target" != vorlix* ]]; then
    continue
  fi
  mods=$(grep -oE -- '-DQT_[A-Z0-9]+_LIB\b' "$flags" | sed -E 's/-DQT_([A-Z0-9]+)_LIB/\1/' | sort -u |
         while read -r m; do module_of "$m"; done)
  if [ "$kind" = program ] && [ -f "$dir/link.txt" ]; then
    linked=$(grep -oE 'libQt6[A-Za-z]+\.so' "$dir/link.txt" | sed -E 's/libQt6([A-Za-z]+)\.so/\1/')
    mods=$(printf '%s\n%s\n' "$mods" "$linked")
  fi
  mods=$(printf '%s\n' "$mods" | grep -v '^$' | sort -u | tr '\n' ' ')
  line="$target: $(for m in $mods; do printf 'Qt6::%s ' "$m"; done)"
  echo "${line% }"
  found=$((found + 1))
  if [ "$check" = 1 ] && [ -n "${may[$target]+set}" ]; then
    for m in $mods; do
      if [[ " ${may[$target]} " != *" $m "* ]]; then
        echo "  $target must not link Qt6::$m (it may link: $(for x in ${may[$target]}; do printf 'Qt6::%s ' "$x"; done))"
        bad=$((bad + 1))
      fi
    done
  fi
done < <(find "$build" -path '*/CMakeFiles/*.dir/flags.make' -not -path '*_autogen.dir/*' |
         awk -F/ '{print $(NF-1) "\t" $0}' | sort | cut -f2)

if [ "$found" = 0 ]; then
  echo "layer-report: no targets found under $build (is it a \"Unix Makefiles\" build folder?)" >&2
  exit 2
fi
if [ "$check" = 1 ] && [ "$bad" -gt 0 ]; then
  echo "layer-report: $bad Qt module(s) linked where a logic library may not link them"
  exit 1
fi
exit 0
