#!/bin/bash
# Null-modem cables for the serial tests: pairs of pseudo terminals joined by
# socat and linked as COM ports into the Wine prefix of a test run.
#   serial-pairs.sh start DIR   DIR is the run's wine dir (DIR/prefix exists)
#   serial-pairs.sh stop  DIR   stop the socat processes, remove the links
#
# DIR-serial/pairs lists one pair a line: ROLE APP-PORT DEVICE-PORT. The
# backend under test opens APP-PORT, the test plays the device on DEVICE-PORT.
# The pair of role "vanish" is made with wait-slave on its device side: once
# the test has opened and closed that end, socat reads EIO there and exits
# (after its 0.5 s half-close grace), which takes the app end's pty master
# with it, as a device unplugged mid-session would. The other pairs survive
# any number of opens and closes of either end.
#
# The pair of role "xfer" carries file transfers: tests/support/xfer-peer.sh,
# started here and stopped with the pairs, runs lrzsz's receivers on its
# device end (and behind loopback TCP ports) on the tests' request; its
# spool is DIR-serial/xfer.
#
# COM221 ("denied") leads to a directory, which CreateFileW refuses with
# ERROR_ACCESS_DENIED as a driver refuses a port held by another program
# (Wine does not enforce exclusive opens of serial ports itself).
set -uo pipefail

cmd=${1:?start|stop}
dir=$(realpath -m "${2:?dir}")
# Beside the wine dir, not in it: a new run's Wine setup wipes that dir, and
# the pids of socat processes an interrupted run left must survive it.
work="$dir-serial"
dosdevices="$dir/prefix/dosdevices"

# role  app-COM  device-COM  extra socat options of the device end
pairs=(
  "general 211 212 "
  "stall 213 214 "
  "abort 215 216 "
  "clog 217 218 "
  "vanish 219 220 wait-slave,"
  "xfer 223 224 "
)
denied=221

# A pid from an old list may have been reused: only our socat is ended.
ours() {
  tr '\0' ' ' <"/proc/$1/cmdline" 2>/dev/null | grep -q "^socat .*link=$work/"
}

stop() {
  if [ -f "$work/peer.pid" ]; then
    pid=$(cat "$work/peer.pid")
    # Its own process group: the receivers it started go with it.
    if tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q "xfer-peer.sh $work/xfer"; then
      kill -TERM -- "-$pid" 2>/dev/null
    fi
  fi
  if [ -f "$work/pids" ]; then
    while read -r pid; do
      ours "$pid" && kill "$pid"
    done <"$work/pids"
    while read -r pid; do
      for _ in $(seq 50); do ours "$pid" || break; sleep 0.05; done
      ours "$pid" && kill -9 "$pid"
    done <"$work/pids"
  fi
  for p in "${pairs[@]}"; do
    read -r _ app dev _ <<<"$p"
    rm -f "$dosdevices/com$app" "$dosdevices/com$dev"
  done
  rm -f "$dosdevices/com$denied"
  rm -rf "$work"
}

case "$cmd" in
start)
  command -v socat >/dev/null || { echo "socat is not installed" >&2; exit 1; }
  [ -d "$dosdevices" ] || { echo "no wine prefix in $dir" >&2; exit 1; }
  stop
  mkdir -p "$work"
  : >"$work/pids"
  : >"$work/pairs.tmp"
  for p in "${pairs[@]}"; do
    read -r role app dev opts <<<"$p"
    socat -d -d "pty,raw,echo=0,link=$work/$role-app" \
      "pty,raw,echo=0,${opts:-}link=$work/$role-dev" >"$work/$role.log" 2>&1 </dev/null &
    echo $! >>"$work/pids"
    echo "$role COM$app COM$dev" >>"$work/pairs.tmp"
  done
  for p in "${pairs[@]}"; do
    read -r role app dev _ <<<"$p"
    for _ in $(seq 100); do
      [ -e "$work/$role-app" ] && [ -e "$work/$role-dev" ] && break
      sleep 0.05
    done
    if ! [ -e "$work/$role-app" ] || ! [ -e "$work/$role-dev" ]; then
      echo "socat pair $role did not come up" >&2
      cat "$work/$role.log" >&2
      stop
      exit 1
    fi
    # Wine looks COM ports up by lower-case name.
    ln -sfn "$work/$role-app" "$dosdevices/com$app"
    ln -sfn "$work/$role-dev" "$dosdevices/com$dev"
  done
  mkdir -p "$work/not-a-port"
  ln -sfn "$work/not-a-port" "$dosdevices/com$denied"
  echo "denied COM$denied -" >>"$work/pairs.tmp"
  mv "$work/pairs.tmp" "$work/pairs"
  setsid "$(dirname "$0")/xfer-peer.sh" "$work/xfer" "$work" >"$work/peer.log" 2>&1 </dev/null &
  echo $! >"$work/peer.pid"
  echo "serial pairs ready in $work"
  ;;
stop)
  stop
  ;;
*)
  echo "usage: $0 start|stop DIR" >&2
  exit 2
  ;;
esac
