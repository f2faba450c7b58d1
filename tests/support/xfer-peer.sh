#!/bin/bash
# The Linux side of the file-send tests: starts lrzsz receivers (rx, rb) on
# the device end of a serial pair, or behind a loopback TCP listener, on
# request of a Windows test program running under Wine, which cannot start
# Linux processes itself.
#   xfer-peer.sh SPOOL PAIRS-DIR    serve requests until killed
#
# Requests are files in SPOOL, written whole by the test (a temporary name,
# then renamed), one line each:
#   req-ID:  serial ROLE DIR PROGRAM ARGS...   receiver on PAIRS-DIR/ROLE-dev
#            tcp - DIR PROGRAM ARGS...         receiver behind a loopback port
#            kill OTHER-ID                     ends the receiver of OTHER-ID
# PROGRAM is rx or rb; it runs in DIR (where it writes what it receives) with
# ARGS passed as words, never through a shell. Answers: req-ID.pid ("PID
# PORT") once the receiver runs (for tcp: once its port listens), req-ID.exit
# with the exit status of socat, which relays it, req-ID.log its messages.
set -uo pipefail

spool=${1:?spool}
pairs=${2:?pairs dir}
mkdir -p "$spool"

# Receivers still running when the fixture ends are ended with it.
cleanup() {
  for f in "$spool"/req-*.pid; do
    [ -f "$f" ] && [ ! -f "${f%.pid}.exit" ] && read -r pid _ <"$f" && kill "$pid" 2>/dev/null
  done
  exit 0
}
trap cleanup TERM INT

# Writes a file whole, so the test never reads half of it.
answer() { echo "$2" >"$1.tmp" && mv "$1.tmp" "$1"; }

listening() {
  local hex
  hex=$(printf '%04X' "$1")
  grep -qi "^ *[0-9]*: 0100007F:$hex 00000000:0000 0A" /proc/net/tcp
}

serve() {
  local req=$1 kind where dir prog
  read -r -a words <"$req.req" || return
  kind=${words[0]:-}
  if [ "$kind" = kill ]; then
    local pidfile="$spool/req-${words[1]:-none}.pid"
    local kpid=
    [ -f "$pidfile" ] && read -r kpid _ <"$pidfile"
    [ -n "$kpid" ] && kill "$kpid" 2>/dev/null
    answer "$req.exit" 0
    return
  fi
  where=${words[1]:-} dir=${words[2]:-} prog=${words[3]:-}
  case "$prog" in rx | rb) ;; *)
    answer "$req.exit" 127
    return
    ;;
  esac
  local args=("${words[@]:4}")
  (
    cd "$dir" || exit 1
    # The receiver talks through a socket pair that socat relays, never on a
    # terminal of its own: lrzsz flushes its terminal when it exits, and on
    # a pty that throws away what the other side has not read yet, often the
    # final ACK. The device end is held open here as well, so it is never
    # hung up under bytes still on their way.
    if [ "$kind" = serial ]; then
      exec 3<>"$pairs/$where-dev"
      # lrzsz purges its line when it starts, but behind socat the purge
      # never reaches the pty: what an earlier transfer left unread there (a
      # cancelled block, the rest of a cancel sequence, a dead receiver's
      # resent blocks) would reach this receiver as its first bytes. Purged
      # here instead, until the line has been quiet for a moment.
      while read -r -t 0.3 -N 65536 -u 3 _; do :; done
      socat "FILE:$pairs/$where-dev,raw,echo=0" "EXEC:$prog ${args[*]}" 2>"$req.log" &
      pid=$!
    else
      # A port of its own choosing: one the test picked could still be held.
      for _ in $(seq 20); do
        where=$((20000 + RANDOM % 30000))
        listening "$where" && continue
        socat "TCP-LISTEN:$where,bind=127.0.0.1,reuseaddr" "EXEC:$prog ${args[*]}" \
          2>"$req.log" &
        pid=$!
        for _ in $(seq 200); do
          listening "$where" && break
          kill -0 "$pid" 2>/dev/null || break
          sleep 0.01
        done
        listening "$where" && break
      done
    fi
    answer "$req.pid" "$pid $where"
    wait "$pid"
    code=$?
    sleep 0.2
    answer "$req.exit" "$code"
  ) &
}

while :; do
  for req in "$spool"/req-*; do
    case "$req" in *'*' | *.*) continue ;; esac
    mv "$req" "$req.req" 2>/dev/null || continue
    serve "$req"
  done
  sleep 0.02
done
