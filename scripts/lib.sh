# Shared by scripts/test, scripts/run and scripts/bench. Sourced, not run.
# Everything here is idempotent: a second run installs, configures and
# creates nothing that is already there.

MB_ROOT="$(cd "$(dirname "$0")/.." && pwd)"
MB_BUILD="${MB_BUILD:-$MB_ROOT/build}"
MB_JOBS="${MB_JOBS:-$(nproc 2>/dev/null || echo 2)}"

MB_PACKAGES="cmake make g++ googletest libgtest-dev libbenchmark-dev
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine wine64
  xvfb xauth x11-utils pulseaudio"

mb_log() { echo "== $*"; }

mb_install_deps() {
  missing=""
  for p in $MB_PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
  done
  [ -z "$missing" ] && return 0
  mb_log "installing:$missing"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -q >/dev/null || return 1
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q $missing >/dev/null || return 1
}

# Tool paths are looked up only once mb_install_deps has run: on a fresh
# machine Wine arrives with it. Wine is found as the CMake configuration finds
# it (wine64 in Wine's own folder, else on PATH); its server sits beside it.
mb_tools() {
  MB_WINE=""
  for d in /usr/lib/wine /usr/lib64/wine; do
    [ -x "$d/wine64" ] && { MB_WINE="$d/wine64"; break; }
  done
  [ -n "$MB_WINE" ] || MB_WINE="$(command -v wine64 || command -v wine)"
  [ -n "$MB_WINE" ] || { mb_log "no Wine found (wine64 or wine)"; return 1; }
  d="$(dirname "$MB_WINE")"
  MB_WINESERVER=""
  for n in wineserver64 wineserver; do
    [ -x "$d/$n" ] && { MB_WINESERVER="$d/$n"; break; }
  done
  [ -n "$MB_WINESERVER" ] || MB_WINESERVER="$(command -v wineserver)"
  [ -n "$MB_WINESERVER" ] || { mb_log "no wineserver found beside $MB_WINE or on PATH"; return 1; }
}

# mb_configure <tree> [cmake args...]
# Configures every time (it is cheap), so a changed argument reaches an
# existing tree too (cmake reads the toolchain file only on the first, hence
# --no-warn-unused-cli).
mb_configure() {
  tree="$1"; shift
  [ -f "$MB_BUILD/$tree/CMakeCache.txt" ] || mb_log "configuring build/$tree"
  mkdir -p "$MB_BUILD" || return 1
  cmake -S "$MB_ROOT" -B "$MB_BUILD/$tree" --no-warn-unused-cli "$@" >"$MB_BUILD/$tree-configure.log" \
    || { cat "$MB_BUILD/$tree-configure.log"; mb_log "configuring build/$tree failed"; return 1; }
}

# The Windows tree runs the Wine that mb_tools found.
mb_configure_win() {
  mb_configure win -DCMAKE_TOOLCHAIN_FILE="$MB_ROOT/cmake/mingw-w64-x86_64.cmake" -DMB_WINE="$MB_WINE"
}

# mb_cache_value <tree> <name>: a value from the tree's CMake cache.
mb_cache_value() {
  sed -n "s/^$2:[A-Z]*=//p" "$MB_BUILD/$1/CMakeCache.txt" 2>/dev/null | head -1
}

# The tests' Wine set-up as the Windows tree's configuration defines it;
# WINEDEBUG and WINEDLLOVERRIDES set in the environment still win.
mb_wine_env() {
  WINEPREFIX="$(mb_cache_value win MB_WINEPREFIX)"
  WINEARCH="$(mb_cache_value win MB_WINEARCH)"
  WINEDEBUG="${WINEDEBUG:-$(mb_cache_value win MB_WINEDEBUG)}"
  WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-$(mb_cache_value win MB_WINEDLLOVERRIDES)}"
  [ -n "$WINEPREFIX" ] && [ -n "$WINEARCH" ] || { mb_log "no Wine set-up in build/win/CMakeCache.txt"; return 1; }
  export WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES
}

mb_build_all() {
  mb_configure native -DMB_SANITIZE=ON || return 1
  mb_configure_win || return 1
  cmake --build "$MB_BUILD/native" -j "$MB_JOBS" >"$MB_BUILD/native-build.log" 2>&1 \
    || { cat "$MB_BUILD/native-build.log"; mb_log "native build failed"; return 1; }
  cmake --build "$MB_BUILD/win" -j "$MB_JOBS" >"$MB_BUILD/win-build.log" 2>&1 \
    || { cat "$MB_BUILD/win-build.log"; mb_log "windows build failed"; return 1; }
  grep -i "warning" "$MB_BUILD/native-build.log" "$MB_BUILD/win-build.log" | head -20
  return 0
}

# The release: the program, the simulated driver and its profile tool built
# in build/release without debug information (at the optimisation that the
# tests run) and the guide, in build/dist/MorvaneBrimwell-<version>-win64.zip.
# MB_PACKAGE is set to its path.
mb_build_package() {
  mb_configure release -DCMAKE_TOOLCHAIN_FILE="$MB_ROOT/cmake/mingw-w64-x86_64.cmake" -DMB_WINE="$MB_WINE" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DCMAKE_EXE_LINKER_FLAGS_RELEASE=-s -DCMAKE_SHARED_LINKER_FLAGS_RELEASE=-s || return 1
  cmake --build "$MB_BUILD/release" -j "$MB_JOBS" --target MorvaneBrimwell64 simdriver mbsimprofile \
    >"$MB_BUILD/release-build.log" 2>&1 \
    || { cat "$MB_BUILD/release-build.log"; mb_log "release build failed"; return 1; }
  name="MorvaneBrimwell-$(mb_cache_value release CMAKE_PROJECT_VERSION)-win64"
  stage="$MB_BUILD/dist/$name"
  MB_PACKAGE="$MB_BUILD/dist/$name.zip"
  rm -rf "$stage" "$MB_PACKAGE"
  mkdir -p "$stage" || return 1
  cp "$MB_BUILD/release/app/MorvaneBrimwell64.exe" "$MB_BUILD/release/simdriver/MBSimAsio.dll" \
    "$MB_BUILD/release/simdriver/MBSimProfile.exe" "$stage/" || return 1
  # Line ends as Windows' own editors expect them.
  sed 's/$/\r/' "$MB_ROOT/package/README.txt" >"$stage/README.txt" || return 1
  (cd "$stage" && cmake -E tar cf "$MB_PACKAGE" --format=zip \
    MorvaneBrimwell64.exe MBSimAsio.dll MBSimProfile.exe README.txt) || { mb_log "zipping failed"; return 1; }
  rm -rf "$stage"
}

mb_wineprefix() {
  [ -f "$WINEPREFIX/system.reg" ] && return 0
  mb_log "creating Wine prefix $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  "$MB_WINE" wineboot -i >/dev/null 2>&1
  "$MB_WINESERVER" -w
  [ -f "$WINEPREFIX/system.reg" ]
}

# Starts Xvfb when there is no display; MB_XVFB_PID is set when we started one.
mb_display() {
  MB_XVFB_PID=""
  if [ -n "${DISPLAY:-}" ] && command -v xdpyinfo >/dev/null && xdpyinfo >/dev/null 2>&1; then
    return 0
  fi
  n=91
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1920x1200x24 -nolisten tcp >/dev/null 2>&1 &
  MB_XVFB_PID=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do
    xdpyinfo >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "Xvfb did not start" >&2
  return 1
}

mb_wineserver_start() { "$MB_WINESERVER" -p >/dev/null 2>&1; }
mb_wineserver_stop() { "$MB_WINESERVER" -k >/dev/null 2>&1; "$MB_WINESERVER" -w >/dev/null 2>&1; }

mb_cleanup() {
  mb_wineserver_stop
  [ -n "$MB_XVFB_PID" ] && kill "$MB_XVFB_PID" 2>/dev/null
  return 0
}
