#!/usr/bin/env bash
# Builds the consumer project against the installed menuconv package, with Ninja and with
# Unix Makefiles, and checks the promises of the build step: the first build converts; a
# build with nothing changed runs nothing; touching the document re-runs the step and leaves
# every output's time stamp alone; an edit of menus.txt or of menus_txts.txt re-runs it; a new screen appears;
# clean leaves the source folder byte for byte as it was; and all of it with a source folder
# nobody may write (as root the builds run as the user nobody).
#
# usage: run_consumer_test.sh [--subdirectory] [MENUCONV-BUILD-FOLDER]
# Without a build folder the program is built first. Exits 77 (skipped) without ninja or make.
# --subdirectory also builds the project with the sources through add_subdirectory (two more
# builds of the program, a minute or two): only the program and the menus are built, and
# nothing of menuconv's lands at the project's build root.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
examples=$root/examples
for tool in ninja make; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: the consumer test is skipped"; exit 77; }
done

scratch=$(mktemp -d)
trap 'chmod -R u+w "$scratch" 2>/dev/null || true; rm -rf "$scratch"' EXIT
chmod 755 "$scratch"
generator=setup
fail() { echo "FAIL ($generator): $*" >&2; exit 1; }

subdirectory=false
if [ "${1:-}" = --subdirectory ]; then
  subdirectory=true
  shift
fi

# The program, installed into a scratch prefix as a user would install it.
build=${1:-}
if [ -z "$build" ]; then
  build=$scratch/menuconv-build
  cmake -S "$root" -B "$build" -DMENUCONV_TESTS=OFF -DMENUCONV_BENCH=OFF >/dev/null
  cmake --build "$build" -j2 --target menuconv >/dev/null
fi
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null

# Root may write anything: the builds then run as nobody, for whom the source folder is
# read-only as it is for everyone else.
as_builder() {
  if [ "$(id -u)" = 0 ]; then
    HOME=$scratch setpriv --reuid=65534 --regid=65534 --clear-groups -- "$@"
  else
    "$@"
  fi
}

# Runs the build; "runs" or "idle" says whether the conversion must run.
build_expecting() {
  local expect=$1 what=$2 log
  log=$(as_builder cmake --build "$bld" 2>&1) || { echo "$log" >&2; fail "$what: the build failed"; }
  if grep -q "Converting the menus" <<<"$log"; then
    [ "$expect" = runs ] || { echo "$log" >&2; fail "$what: the conversion ran"; }
  else
    [ "$expect" = idle ] || { echo "$log" >&2; fail "$what: the conversion did not run"; }
  fi
}

# Every output with its modification time, to the nanosecond.
stamps() { (cd "$bld/menus" && find . -type f -printf '%P %T@\n' | sort) }

# On a file system that keeps whole seconds only, a change right after a build would not be
# newer than what the build made.
tick() {
  case $(stat -c %y "$bld/menus.menuconv-stamp") in
    *.000000000*) sleep 1 ;;
  esac
}

# Changes a file of the read-only source folder.
edit() {
  local file=$1
  shift
  tick
  chmod u+w "$file"
  "$@"
  chmod a-w "$file"
}

add_record() { printf 'Z\0Z\0_\0E\0X\0T\0R\0A\0\t\0X\0\r\0\n\0' >>"$1"; }

add_first_record() { printf 'A\0A\0\t\0Y\0\r\0\n\0' >>"$1"; }

add_screen() {
  local copy
  copy=$(LC_ALL=C sed -n '25,31p' "$1" | LC_ALL=C sed '1s/>loading\r\{0,1\}$/>loading_copy/')
  grep -q loading_copy <<<"$copy" || fail "the screen to copy is not on lines 25 to 31"
  { LC_ALL=C head -n 31 "$1"; printf "%s\n" "$copy"; LC_ALL=C tail -n +32 "$1"; } >"$scratch/screen.new"
  cat "$scratch/screen.new" >"$1"
  rm "$scratch/screen.new"
}

same() { cmp "$1" "$2" || fail "$2 differs from $1"; }

check_generator() {
  generator=$1
  local dir=$scratch/$2
  src=$dir/src
  bld=$dir/build
  mkdir -p "$src/data" "$bld"
  cp "$here/CMakeLists.txt" "$src/"
  cp "$examples/menus.xml" "$examples/menus.txt" "$examples/menus_txts.txt" "$src/data/"
  # Older than anything the build makes, as a checkout is.
  touch -d '-1 hour' "$src/CMakeLists.txt" "$src"/data/*
  chmod -R a-w "$src"
  [ "$(id -u)" != 0 ] || chown 65534:65534 "$bld"

  as_builder cmake -S "$src" -B "$bld" -G "$generator" -DCMAKE_PREFIX_PATH="$scratch/prefix" >/dev/null ||
    fail "configure failed"
  printf '%s\n' "$bld"/menus/main_menu.xml "$bld"/menus/options.xml "$bld"/menus/loading.xml \
    "$bld"/menus/menus_txts.txt >"$dir/want-outputs"
  same "$dir/want-outputs" "$bld/menus-outputs.txt"

  build_expecting runs "first build"
  for file in main_menu.xml options.xml loading.xml menus_txts.txt; do
    same "$examples/expected/$file" "$bld/menus/$file"
  done
  build_expecting idle "no-op build"

  local before
  before=$(stamps)
  tick
  touch "$src/data/menus.xml"
  build_expecting runs "touch of the document"
  [ "$(stamps)" = "$before" ] || fail "touch of the document changed time stamps of outputs"
  build_expecting idle "no-op build after a run that changed nothing"

  # A record that sorts after every other key: the merged table grows by it, at its end.
  local record
  record=$(printf 'Z\0Z\0_\0E\0X\0T\0R\0A\0\t\0X\0\r\0\n\0' | od -An -tx1 | tr -d ' \n')
  edit "$src/data/menus.txt" add_record "$src/data/menus.txt"
  [ "$(od -An -tx1 "$src/data/menus.txt" | tr -d ' \n' | tail -c ${#record})" = "$record" ] || fail "edit failed"
  build_expecting runs "edit of menus.txt"
  { cat "$examples/expected/menus_txts.txt"; printf 'Z\0Z\0_\0E\0X\0T\0R\0A\0\t\0X\0\r\0\n\0'; } >"$dir/want-table"
  same "$dir/want-table" "$bld/menus/menus_txts.txt"
  [ "$(stamps | grep '\.xml ')" = "$(grep '\.xml ' <<<"$before")" ] || fail "edit of menus.txt rewrote menus"
  build_expecting idle "no-op build after the edit"

  # A record in the second table whose key sorts before every other: it comes first.
  edit "$src/data/menus_txts.txt" add_first_record "$src/data/menus_txts.txt"
  build_expecting runs "edit of menus_txts.txt"
  { printf '\377\376A\0A\0\t\0Y\0\r\0\n\0'; tail -c +3 "$dir/want-table"; } >"$dir/want-table-2"
  same "$dir/want-table-2" "$bld/menus/menus_txts.txt"
  build_expecting idle "no-op build after the edit of menus_txts.txt"

  # A copy of the screen "loading" (lines 25 to 31) under another name, after the last screen.
  edit "$src/data/menus.xml" add_screen "$src/data/menus.xml"
  build_expecting runs "new screen"
  same "$examples/expected/loading.xml" "$bld/menus/loading_copy.xml"
  grep -qx "$bld/menus/loading_copy.xml" "$bld/menus-outputs.txt" || fail "the new screen is not among the outputs"
  build_expecting idle "no-op build after the new screen"

  cp -a "$src" "$dir/before-clean"
  as_builder cmake --build "$bld" --target clean >/dev/null || fail "clean failed"
  diff -r "$dir/before-clean" "$src" || fail "clean changed the source folder"
  for file in main_menu.xml loading_copy.xml menus_txts.txt; do
    [ ! -e "$bld/menus/$file" ] || fail "clean left $file"
  done
  build_expecting runs "build after clean"
  echo "ok ($generator)"
}

# The sources through add_subdirectory: the same conversion, and at the build root only the
# project's own files and the subproject's folder, in which no test, benchmark or package is.
check_subdirectory() {
  generator="add_subdirectory"
  local dir=$scratch/subdirectory
  src=$dir/src
  bld=$dir/build
  mkdir -p "$src/data" "$bld"
  cp "$here/CMakeLists.txt" "$src/"
  cp "$examples/menus.xml" "$examples/menus.txt" "$examples/menus_txts.txt" "$src/data/"
  [ "$(id -u)" != 0 ] || chown 65534:65534 "$bld"
  as_builder cmake -S "$src" -B "$bld" -G Ninja -DMENUCONV_SOURCE_DIR="$root" >/dev/null || fail "configure failed"
  build_expecting runs "first build"
  for file in main_menu.xml options.xml loading.xml menus_txts.txt; do
    same "$examples/expected/$file" "$bld/menus/$file"
  done
  build_expecting idle "no-op build"
  local root_files
  root_files=$(cd "$bld" && ls -A | tr '\n' ' ')
  [ "$root_files" = ".ninja_deps .ninja_log CMakeCache.txt CMakeFiles build.ninja cmake_install.cmake menuconv menus menus-outputs.txt menus.menuconv-stamp " ] ||
    fail "unexpected files at the build root: $root_files"
  for unwanted in bench tests CPackConfig.cmake; do
    [ ! -e "$bld/menuconv/$unwanted" ] || fail "menuconv/$unwanted was made"
  done
  [ -d "$bld/menuconv/layers" ] || fail "the layer views are not in menuconv's own binary folder"
  echo "ok ($generator)"
}

check_generator Ninja ninja
check_generator "Unix Makefiles" make
if $subdirectory; then
  check_subdirectory
fi
