#!/usr/bin/env bash
# Checks that the layers of src/ hold, by the #include lines of every source file:
#   - a file under src/<layer> includes headers of its own layer and of the layers below it only
#       core <- news <- nntp        core <- preprocess, audio <- speech        core <- audio
#       speaking: news, nntp, preprocess, speech, audio        render, mpris: speaking and below
#       gui: everything
#   - no file outside src/gui includes a header of Qt Gui or Qt Widgets (or of another Qt
#     module that needs a screen: OpenGL, PrintSupport, Svg); the names come from the Qt
#     installation's own header folders.
# Prints one line per broken rule and exits 1 when there is any, 0 when the layers hold.
#
#   bash scripts/check-layers.sh [SRC_DIR [QT_HEADERS_DIR]]
# SRC_DIR defaults to the repository's src; QT_HEADERS_DIR to what qtpaths6 reports.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
src=${1:-$root/src}
qtinc=${2:-}
if [ -z "$qtinc" ]; then
  for q in qtpaths6 qtpaths qmake6; do
    if command -v "$q" >/dev/null 2>&1; then
      qtinc=$("$q" --query QT_INSTALL_HEADERS 2>/dev/null || "$q" -query QT_INSTALL_HEADERS 2>/dev/null)
      [ -n "$qtinc" ] && break
    fi
  done
fi
if [ ! -d "$src" ]; then
  echo "check-layers: no source folder $src" >&2
  exit 2
fi
if [ -z "$qtinc" ] || [ ! -d "$qtinc/QtGui" ] || [ ! -d "$qtinc/QtWidgets" ]; then
  echo "check-layers: Qt headers not found (${qtinc:-none}); give the folder that holds QtGui and QtWidgets" >&2
  exit 2
fi
src=$(cd "$src" && pwd)

# The layers each layer may include (besides itself).
declare -A allowed=(
  [core]=""
  [news]="core"
  [nntp]="core news"
  [preprocess]="core"
  [speech]="core preprocess audio"
  [audio]="core"
  [speaking]="core news nntp preprocess speech audio"
  [render]="core news nntp preprocess speech audio speaking"
  [mpris]="core news nntp preprocess speech audio speaking"
  [gui]="core news nntp preprocess speech audio speaking render mpris"
)

# Header names of the screen modules, minus any name that a non-screen module has as well.
screen_modules="QtGui QtWidgets QtOpenGL QtOpenGLWidgets QtPrintSupport QtSvg QtSvgWidgets"
forbidden=$(mktemp)
trap 'rm -f "$forbidden"' EXIT
{
  for m in $screen_modules; do
    [ -d "$qtinc/$m" ] || continue
    echo "$m"
    find "$qtinc/$m" -maxdepth 1 -type f -printf '%f\n'
  done | sort -u
} > "$forbidden.all"
{
  for m in QtCore QtNetwork QtTest QtConcurrent QtXml QtSql QtDBus; do
    [ -d "$qtinc/$m" ] && find "$qtinc/$m" -maxdepth 1 -type f -printf '%f\n'
  done | sort -u
} > "$forbidden.core"
comm -23 "$forbidden.all" "$forbidden.core" > "$forbidden"
rm -f "$forbidden.all" "$forbidden.core"

problems=0
report() {
  echo "$1"
  problems=$((problems + 1))
}

for dir in "$src"/*/; do
  layer=$(basename "$dir")
  if [ -z "${allowed[$layer]+set}" ]; then
    report "src/$layer: not a layer (known: ${!allowed[*]})"
    continue
  fi
  while IFS= read -r -d '' file; do
    rel=${file#"$src"/}
    filedir=$(dirname "$file")
    # file:line:<name> or file:line:"name"
    while IFS=: read -r line written; do
      name=${written:1:${#written}-2}
      # Which layer the header belongs to: a path from src/ ("news/ArticleUnit.h"), or a
      # quoted path next to the file ("ArticleUnit.h", "../news/ArticleUnit.h").
      target=""
      if [ "${written:0:1}" = '"' ] && [ -f "$filedir/$name" ]; then
        resolved=$(cd "$(dirname "$filedir/$name")" && pwd)/$(basename "$name")
        case "$resolved" in "$src"/*) target=${resolved#"$src"/};; esac
      elif [ -f "$src/$name" ]; then
        target=$name
      fi
      if [ -n "$target" ]; then
        tlayer=${target%%/*}
        if [ "$tlayer" != "$layer" ] && [[ " ${allowed[$layer]} " != *" $tlayer "* ]]; then
          report "src/$rel:$line: includes $written of layer $tlayer; $layer may include only: ${allowed[$layer]:-nothing but itself}"
        fi
        continue
      fi
      if [ "$layer" != gui ]; then
        module=""
        case "$name" in
          Qt*/*) module=${name%%/*}; base=${name#*/} ;;
          *) base=$name ;;
        esac
        if { [ -n "$module" ] && [[ " $screen_modules " == *" $module "* ]]; } ||
           { [ -z "$module" ] && grep -qxF -- "$base" "$forbidden"; }; then
          report "src/$rel:$line: includes $written, a Qt header that needs a screen; only src/gui may use it"
        fi
      fi
    done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"][^>"]+[>"]' "$file" |
             sed -E 's/^([0-9]+):[[:space:]]*#[[:space:]]*include[[:space:]]*([<"][^>"]+[>"]).*/\1:\2/')
  done < <(find "$dir" -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' -o -name '*.cc' -o -name '*.inl' \) -print0 | sort -z)
done

if [ "$problems" -gt 0 ]; then
  echo "check-layers: $problems include(s) break the layers"
  exit 1
fi
echo "check-layers: the layers hold"
