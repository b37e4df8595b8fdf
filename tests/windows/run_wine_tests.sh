#!/usr/bin/env bash
# The Windows build, checked under wine: cross-compiles menuconv.exe and the unit tests with
# mingw-w64, runs the unit tests, then converts the shipped example and the end-to-end cases
# with menuconv.exe and compares every written file with the golden files of the POSIX suite.
#
# wine runs with a Russian locale, so that its ANSI code page (the narrow encoding of the
# Windows build) is windows-1251: the Cyrillic texts of the example then survive on both
# builds and the files must be identical.
#   tests/windows/run_wine_tests.sh [BUILD-FOLDER]
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build-win}

cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" \
  -DMENUCONV_BENCH=OFF >/dev/null
cmake --build "$build" -j2

WINEPREFIX=$(mktemp -d)
export WINEPREFIX
work=$(mktemp -d)
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX" "$work"' EXIT
# Without the Unix locale itself wine still takes code page 1251 from its name, but reads the
# UTF-8 command line and file names as 7-bit ASCII: a missing locale is compiled here.
if ! locale -a 2>/dev/null | grep -qix 'ru_RU\.utf-\?8'; then
  mkdir "$work/locales"
  localedef -i ru_RU -f UTF-8 "$work/locales/ru_RU.UTF-8" ||
    { echo "cannot compile the ru_RU.UTF-8 locale (Debian: locales)"; exit 1; }
  export LOCPATH=$work/locales
fi
# (bash itself does not look in LOCPATH and would warn that it cannot use the locale.)
export WINEDEBUG=-all LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8 2>/dev/null
# A fresh prefix now and then comes out of wineboot without its system folder, and every
# program then fails with "could not load kernel32.dll": it is checked, and made again.
prefix_ready() { wine cmd /c exit 0 >/dev/null 2>&1; }
for try in 1 2 3; do
  wineboot -i >"$work/wineboot.log" 2>&1 || true
  prefix_ready && break
  echo "the wine prefix is not usable after wineboot (try $try of 3):"
  tail -n 20 "$work/wineboot.log"
  wineserver -k >/dev/null 2>&1 || true
  [ "$try" = 3 ] && { echo "wine cannot start programs here"; exit 1; }
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
done

echo "== unit tests under wine"
wine "$build/tests/menuconv_tests.exe" --gtest_brief=1

passed=0
failed=0
again=0
# attempt FOLDER INPUT-FOLDER EXPECTED-FOLDER EXIT-STATUS PATH: one run in a fresh folder;
# prints what differs and fails when anything does.
attempt() {
  local folder=$1 input=$2 expected=$3 status=$4 path=$5
  rm -rf "$folder"
  mkdir -p "$folder"
  cp -R "$input/." "$folder/"
  local got=0
  # Split on blanks: wine joins the words into the command line as they are, so the tail
  # is "my menus" without quotes (a single word with a blank would reach it quoted).
  # shellcheck disable=SC2086
  # A run of the examples takes under a second: one still going after two minutes is stopped.
  (cd "$folder" && timeout 120 wine "$build/menuconv.exe" $path >"$folder.log" 2>&1) || got=$?
  local ok=0
  if [ "$got" = 124 ]; then
    echo "no exit within 120 s: stopped"
    ok=1
  elif [ "$got" != "$status" ]; then
    echo "exit status $got, expected $status"
    ok=1
  fi
  if [ -n "$expected" ]; then
    while IFS= read -r -d '' file; do
      local relative=${file#"$expected"/}
      if ! cmp -s "$file" "$folder/$relative"; then
        echo "$relative differs from the golden file"
        ok=1
      fi
    done < <(find "$expected" -type f ! -name '.gitattributes' -print0)
  fi
  return $ok
}

# run NAME INPUT-FOLDER EXPECTED-FOLDER EXIT-STATUS PATH. A case that fails is shown with
# what wine printed and run once more: wine itself now and then ends a run with another
# status, or once in a few hundred runs never ends it (seen after the screens were written),
# and a second failure is what counts.
run() {
  local name=$1
  shift
  local first
  if first=$(attempt "$work/$name" "$@"); then
    passed=$((passed + 1))
    return
  fi
  echo "$name: $first"
  sed 's/^/    wine: /' "$work/$name.log" | tail -n 20
  local second
  if second=$(attempt "$work/$name-again" "$@"); then
    echo "$name: passed when run again"
    passed=$((passed + 1))
    again=$((again + 1))
  else
    echo "$name, run again: $second"
    failed=$((failed + 1))
  fi
}

echo "== menuconv.exe end to end under wine"
mkdir -p "$work/example-input"
cp "$top/examples/menus.xml" "$top/examples/menus.txt" "$top/examples/menus_txts.txt" "$work/example-input/"
run example "$work/example-input" "$top/examples/expected" 0 menus.xml

# The successful cases of the POSIX suite, with the path they are run with; WinMain takes the
# command-line tail whole, so "my menus" is one path here as the joined arguments are there.
e2e="$top/tests/data/e2e"
while read -r name path; do
  run "$name" "$e2e/$name/input" "$e2e/$name/expected" 0 "$path"
done <<'CASES'
widget_kinds menus
sprite_colours menus
modes_and_grids menus
joined_values menus
control_details menus
quoting menus
root_and_screens menus
skipped_modules menus
duplicate_screens menus
walk_nested menus
walk_top_level menus
undeclared_encoding menus
cyrillic_warnings menus
cyrillic_utf8 menus
text_tables menus.xml
subfolder_names menus
blank_in_path my menus
CASES
# Paths with Cyrillic letters, which reach menuconv.exe in code page 1251: the text tables
# case under other names. Its tables are found and rewritten beside the input, named after
# it; the menu document goes to the current folder.
# renamed NAME PATH
renamed() {
  local name=$1 path=$2
  local base=${path%.*} input=$work/$name-input expected=$work/$name-expected
  mkdir -p "$input/$(dirname "$path")" "$expected/$(dirname "$path")"
  cp "$e2e/text_tables/input/menus.xml" "$input/$path"
  cp "$e2e/text_tables/input/menus.txt" "$input/$base.txt"
  cp "$e2e/text_tables/input/menus_txts.txt" "$input/${base}_txts.txt"
  cp "$e2e/text_tables/expected/tables.xml" "$expected/"
  cp "$e2e/text_tables/expected/menus_txts.txt" "$expected/${base}_txts.txt"
  run "$name" "$input" "$expected" 0 "$path"
}
renamed cyrillic_first меню.xml
renamed cyrillic_inside my_меню.xml
renamed cyrillic_folder папка/menus.xml

# Failure paths: the message box cannot show without a display, the exit status still tells.
run missing_file "$e2e/missing_file/input" "" 1 nosuch.xml
run truncated_input "$e2e/truncated_input/input" "" 1 menus.xml

echo "$passed passed, $failed failed"
[ "$again" = 0 ] || echo "($again passed only when run again: see above)"
[ "$failed" = 0 ]
