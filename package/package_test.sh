#!/bin/bash
# The release zip as a Windows user receives it. Unpacked into an empty
# folder, its programs import only Windows system libraries and carry no
# debug sections, and the program and the driver say their version. Then, in
# a Wine prefix of its own, the unpacked driver is registered with regsvr32
# and the unpacked program, driven through mbharness, chooses the first
# driver, runs, and logs its run summary after Stop.
# Usage (from package/CMakeLists.txt):
#   package_test.sh <zip> <version> <mbharness.exe> <objdump> <windres> <folder> <wine prefix>
# The prefix is kept between runs; the folder is emptied first.
set -u
zip="$1" version="$2" harness="$3" objdump="$4" windres="$5" work="$6" prefix="$7"
. "$(dirname "$0")/../scripts/lib.sh"

fail() { echo "package_test: $*" >&2; exit 1; }

[ -f "$zip" ] || fail "no package at $zip (scripts/package makes it)"
rm -rf "$work"
mkdir -p "$work/unpacked" || fail "cannot make $work"
cd "$work/unpacked" && cmake -E tar xf "$zip" || fail "cannot unpack $zip"
files="$(ls | tr '\n' ' ')"
[ "$files" = "MBSimAsio.dll MBSimProfile.exe MorvaneBrimwell64.exe README.txt " ] || fail "the zip holds: $files"

# Libraries that every Windows has: a compiler's runtime DLL would be missing.
system=" advapi32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll user32.dll winmm.dll "
for f in MorvaneBrimwell64.exe MBSimAsio.dll MBSimProfile.exe; do
  for dll in $("$objdump" -p "$f" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z'); do
    case "$system" in *" $dll "*) ;; *) fail "$f imports $dll, not a Windows system library" ;; esac
  done
  "$objdump" -h "$f" | grep -q '\.debug' && fail "$f carries debug sections"
done
numbers="$(echo "$version" | sed 's/\./, */g')"
for f in MorvaneBrimwell64.exe MBSimAsio.dll; do
  rc="$("$windres" -i "$f" -O rc 2>&1)"
  for want in "FILEVERSION $numbers\$" "PRODUCTVERSION $numbers\$" "\"ProductName\", \"Morvane Brimwell\"" \
              "\"FileVersion\", \"$version\"" "\"ProductVersion\", \"$version\"" "\"OriginalFilename\", \"$f\"" \
              "\"FileDescription\", \"[^\"]"; do
    echo "$rc" | grep -q "$want" || fail "$f: its version resource has no /$want/:
$rc"
  done
done

# Wine's programs hold on to the descriptors they inherit; ctest waits for
# them: every Wine command writes to a file, and the server ends with the test.
mb_tools || exit 1
export WINEPREFIX="$prefix" WINEARCH="$MB_TEST_WINEARCH"
export WINEDEBUG="${WINEDEBUG:-$MB_TEST_WINEDEBUG}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-$MB_TEST_WINEDLLOVERRIDES}"
mb_wineprefix || fail "creating the Wine prefix $WINEPREFIX failed"
trap mb_wineserver_stop EXIT
winpath() { echo "Z:$(echo "$1" | sed 's|/|\\|g')"; }
driver="$(winpath "$work/unpacked/MBSimAsio.dll")"
# Only the package's drivers, whatever an interrupted run left.
"$MB_WINE" reg delete 'HKLM\Software\ASIO' /f </dev/null >/dev/null 2>&1
"$MB_WINE" regsvr32 /s "$driver" </dev/null >"$work/regsvr32.log" 2>&1 || fail "regsvr32 MBSimAsio.dll failed"
"$MB_WINE" "$work/unpacked/MorvaneBrimwell64.exe" </dev/null >"$work/program.log" 2>&1 &
program=$!
"$MB_WINE" "$harness" find 60 command CMD_ASIODRIVER_FIRST wait '^#[0-9]+ START ASIO DEVICE: Running$' 30 log \
  </dev/null >"$work/harness.log" 2>&1
status=$?
name="$(sed -n 's/^#[0-9]* (64Bits) TEST ASIO DEVICE: \(.*\)$/\1/p' "$work/harness.log" | tr -d '\r' | head -1)"
if [ "$status" -eq 0 ]; then
  "$MB_WINE" "$harness" switches "$name" 100 30 command CMD_STOPTEST wait '^#[0-9]+ RUN SUMMARY: ' 10 log \
    command CMD_QUIT gone 30 </dev/null >"$work/harness.log" 2>&1
  status=$?
fi
# A run that failed leaves the program open: ending the server ends it.
[ "$status" -eq 0 ] || mb_wineserver_stop
wait "$program"
program_status=$?
"$MB_WINE" regsvr32 /s /u "$driver" </dev/null >>"$work/regsvr32.log" 2>&1
[ "$status" -eq 0 ] || { cat "$work/harness.log"; fail "the unpacked program did not run a test of $name to its summary"; }
[ "$program_status" -eq 0 ] || fail "the unpacked program ended with $program_status"
grep -q "RUN SUMMARY: [^/]*/ buffers: +[1-9]" "$work/harness.log" \
  || { cat "$work/harness.log"; fail "the run processed no buffer"; }
grep "RUN SUMMARY" "$work/harness.log"
echo "package_test: $(basename "$zip") passed"
