#!/bin/bash
# Not a test: the launch as a user starts it from a shell under Wine, from
# `wine program.exe` to its main window viewable on the X display, beside
# Wine's notepad launched the same way, one after the other (see
# app/BENCHMARKS.md). Uses the tests' prefix and needs DISPLAY.
#   app/launch_benchmark.sh [launches] [program.exe]
set -u
. "$(dirname "$0")/../scripts/lib.sh"
launches="${1:-5}"
program="${2:-$MB_BUILD/win/app/MorvaneBrimwell64.exe}"
mb_tools && mb_wine_env || exit 1
[ -n "${DISPLAY:-}" ] && command -v xwininfo >/dev/null || { echo "needs DISPLAY and xwininfo" >&2; exit 1; }
title="Morvane Brimwell 64Bits (Version $(mb_cache_value win CMAKE_PROJECT_VERSION))"

# Milliseconds from the launch to a viewable window of that name; the
# program is ended again.
launch() {
  start=$(date +%s%N)
  "$MB_WINE" "$1" </dev/null >/dev/null 2>&1 &
  pid=$!
  until xwininfo -name "$2" 2>/dev/null | grep -q IsViewable; do
    kill -0 "$pid" 2>/dev/null || { echo "$1 ended without a window" >&2; exit 1; }
    sleep 0.005
  done
  echo $((($(date +%s%N) - start) / 1000000))
  kill "$pid"
  wait "$pid" 2>/dev/null
  return 0
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

"$MB_WINESERVER" -p
launch notepad "Untitled - Notepad" >/dev/null  # what every later launch finds running
pads="" programs=""
for n in $(seq "$launches"); do
  pad=$(launch notepad "Untitled - Notepad") || exit 1
  app=$(launch "$program" "$title") || exit 1
  echo "launch $n: notepad $pad ms, program $app ms"
  pads="$pads$pad"$'\n' programs="$programs$app"$'\n'
done
pad=$(printf %s "$pads" | median) app=$(printf %s "$programs" | median)
echo "medians of $launches: notepad $pad ms, program $app ms ($(awk "BEGIN { printf \"%.2f\", $app / $pad }") x notepad)"
"$MB_WINESERVER" -k
