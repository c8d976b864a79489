#!/bin/sh
# Test fixture: a private sound server with one null sink and one null source,
# so that Wine's audio driver has real endpoints to enumerate.
#   pulse_fixture.sh start DIR   starts it in the background (pid in DIR/pid)
#   pulse_fixture.sh stop DIR    ends the process of DIR/pid
# Clients reach it through PULSE_SERVER=unix:DIR/native only.
set -u
action="$1"
dir="$2"
pidfile="$dir/pid"

# Only the server this script started: the pid file's process must be ours.
ours() {
  [ -f "$pidfile" ] || return 1
  pid="$(cat "$pidfile")"
  [ -n "$pid" ] && tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q -- "$dir/native"
}

stop() {
  if ours; then
    kill "$pid" 2>/dev/null
    for _ in $(seq 50); do
      # Gone, or a zombie waiting for whoever adopted it.
      state="$(sed -n 's/^[0-9]* ([^)]*) \(.\).*/\1/p' "/proc/$pid/stat" 2>/dev/null)"
      [ -z "$state" ] || [ "$state" = Z ] && break
      sleep 0.1
    done
  fi
  rm -f "$pidfile"
}

case "$action" in
start)
  stop
  rm -rf "$dir"
  mkdir -p "$dir/runtime" "$dir/state" || exit 1
  HOME="$dir" XDG_RUNTIME_DIR="$dir/runtime" PULSE_RUNTIME_PATH="$dir/runtime" PULSE_STATE_PATH="$dir/state" \
    pulseaudio -n --daemonize=no --use-pid-file=no --exit-idle-time=-1 --disallow-module-loading \
    --load="module-native-protocol-unix socket=$dir/native auth-anonymous=1" \
    --load="module-null-sink sink_name=mb_null_sink" \
    --load="module-null-source source_name=mb_null_source" \
    </dev/null >"$dir/server.log" 2>&1 &
  echo $! >"$pidfile"
  for _ in $(seq 100); do
    if PULSE_SERVER="unix:$dir/native" pactl list short sources 2>/dev/null | grep -q mb_null_source; then
      exit 0
    fi
    ours || break
    sleep 0.1
  done
  echo "sound server did not come up:" >&2
  cat "$dir/server.log" >&2
  stop
  exit 1
  ;;
stop)
  stop
  ;;
*)
  echo "usage: $0 start|stop DIR" >&2
  exit 2
  ;;
esac
