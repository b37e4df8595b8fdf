#!/usr/bin/env bash
# Measures menuconv on inputs at the size extremes: wall time and peak resident memory of
# one run each, printed as a table. Nothing is asserted; a case whose run does not end with
# exit status 0 and the expected output is marked in the last column.
#
# usage: bench/measure_extremes.sh [CASE...]
#   CASE: deep attrs value text screens records key (default: all, in this order)
# environment:
#   MENUCONV  the executable (default: build/menuconv beside this script's folder)
#   WORKDIR   where the inputs are generated (default: a new folder under $TMPDIR or /tmp,
#             removed afterwards)
#   SCALE     divides every size, for a quick trial run (default 1)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
menuconv=${MENUCONV:-$here/../build/menuconv}
menuconv=$(cd "$(dirname "$menuconv")" && pwd)/$(basename "$menuconv")
scale=${SCALE:-1}
[[ -x $menuconv ]] || { echo "no executable at $menuconv (set MENUCONV)" >&2; exit 2; }
[[ -x /usr/bin/time ]] || { echo "/usr/bin/time is needed" >&2; exit 2; }

if [[ -n ${WORKDIR:-} ]]; then
  work=$WORKDIR
  mkdir -p "$work"
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/menuconv-extremes-XXXXXX")
  trap 'rm -rf "$work"' EXIT
fi

cases=("$@")
[[ ${#cases[@]} -gt 0 ]] || cases=(deep attrs value text screens records key)

# Writes the inputs of one case into the current folder and prints the arguments of the run.
generate() {
  python3 - "$1" "$scale" <<'EOF'
import sys

case, scale = sys.argv[1], int(sys.argv[2])
M = 1_000_000 // scale
MB100 = 100 * 1024 * 1024 // scale
head = b'<?xml version="1.0" encoding="utf-8"?>\n<ROOT>'
tail = b'</ROOT>\n'

def table(records):
    out = bytearray(b'\xff\xfe')
    for key, text in records:
        out += (key + '\t' + text + '\r\n').encode('utf-16-le')
    return bytes(out)

def write(name, *pieces):
    with open(name, 'wb') as f:
        for p in pieces:
            f.write(p)

if case == 'deep':
    write('screens', head, b'<MENU_MODULE>deep', b'<a>' * M, b'</a>' * M,
          b'<SPRITE_MODULE ld.x="1"/></MENU_MODULE>', tail)
    print('screens deep.xml')
elif case == 'attrs':
    attrs = b''.join(b' x%d="v"' % i for i in range(M))
    write('screens', head, b'<MENU_MODULE>attrs<SPRITE_MODULE', attrs,
          b' ld.x="1"/></MENU_MODULE>', tail)
    print('screens attrs.xml')
elif case == 'value':
    write('screens', head, b'<MENU_MODULE>value<SPRITE_MODULE ld.x="', b'7' * MB100,
          b'"/></MENU_MODULE>', tail)
    print('screens value.xml')
elif case == 'text':
    write('screens', head, b'<MENU_MODULE>text<SPRITE_MODULE>', b't' * MB100,
          b'</SPRITE_MODULE></MENU_MODULE>', tail)
    print('screens text.xml')
elif case == 'screens':
    body = b''.join(b'<MENU_MODULE>s%d<SPRITE_MODULE ld.x="1"/></MENU_MODULE>' % i
                    for i in range(M))
    write('screens', head, body, tail)
    print('screens s%d.xml' % (M - 1))
elif case == 'records':
    write('menus.xml', head, b'<MENU_MODULE>menu</MENU_MODULE>', tail)
    write('menus.txt', table(('k%07d' % i, 'text %d' % i) for i in range(M - 1, -1, -1)))
    print('menus.xml menus_txts.txt')
elif case == 'key':
    write('menus.xml', head, b'<MENU_MODULE>menu</MENU_MODULE>', tail)
    write('menus.txt', table([('K' * M, 'long key'), ('A', 'short key')]))
    print('menus.xml menus_txts.txt')
else:
    sys.exit('unknown case ' + case)
EOF
}

describe() {
  case $1 in
    deep) echo "nesting $((1000000 / scale)) deep" ;;
    attrs) echo "$((1000000 / scale)) attributes" ;;
    value) echo "value of $((100 / scale)) MiB" ;;
    text) echo "text of $((100 / scale)) MiB" ;;
    screens) echo "$((1000000 / scale)) screens" ;;
    records) echo "$((1000000 / scale)) records" ;;
    key) echo "key of $((1000000 / scale)) units" ;;
  esac
}

printf '%-24s %12s %10s %12s %14s  %s\n' "case" "input bytes" "seconds" "peak RSS KB" "output bytes" "result"
for c in "${cases[@]}"; do
  folder=$work/$c
  rm -rf "$folder"
  mkdir -p "$folder"
  cd "$folder"
  read -r input output < <(generate "$c")
  insize=$(du -cb -- * | tail -1 | cut -f1)
  set +e
  /usr/bin/time -f "%e %M" -o "$work/$c.time" "$menuconv" "$input" >"$work/$c.out" 2>"$work/$c.err"
  status=$?
  set -e
  read -r seconds peak <"$work/$c.time"
  outsize=$( [[ -f $output ]] && stat -c %s -- "$output" || echo "-")
  result=ok
  if [[ $status -ne 0 ]]; then
    result="exit $status: $(head -c 200 "$work/$c.err" | tr '\n' ' ')"
  elif [[ $outsize == "-" ]]; then
    result="no $output"
  elif [[ -s $work/$c.err ]]; then
    result="stderr: $(head -c 200 "$work/$c.err" | tr '\n' ' ')"
  fi
  printf '%-24s %12s %10s %12s %14s  %s\n' "$(describe "$c")" "$insize" "$seconds" "$peak" "$outsize" "$result"
  cd "$work"
  rm -rf "$folder"
done
