#!/bin/bash
# make run: the stand-in host (kl_host.exe) under Wine against the x86-64 DLL,
# with something to talk to: a telnet server on 127.0.0.1 and a serial
# "device" streaming a coloured, timestamped log at 115200 pace (both from
# tools/demo), the device linked into the Wine prefix as COM7 and listed in
# its serial device map, and a demo settings file with a saved connection to
# the server.
#   run-host.sh TREE        TREE = the win64 build tree
#
# With a display ($DISPLAY set, KL_DEMO_HEADLESS not 1) the host opens there
# and the demo lasts until its window is closed or Ctrl+C. Without one it runs
# on a private Xvfb: opens COM7 in a lister window and the telnet connection
# in the Quick View pane, waits until both terminals count received bytes,
# saves pictures and a summary under build/demo/ and exits 0 only if both
# showed the demo data. Everything it started is stopped on the way out.
set -uo pipefail
tree=$(realpath "${1:?win64 build tree}")
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "$tree/../demo")
wine_dir="$tree/demo-wine"
plugin="$out/plugin"
com=COM7
connection="demo telnet"
wait_ms=${KL_DEMO_WAIT_MS:-30000}

headless=1
[ -n "${DISPLAY:-}" ] && [ "${KL_DEMO_HEADLESS:-0}" != 1 ] && headless=0
user_display=${DISPLAY:-}

pids=()
stop_all() {
  trap - EXIT INT TERM
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  "$root/tools/wine-env.sh" cleanup "$wine_dir" >/dev/null 2>&1
}
trap stop_all EXIT
trap 'echo "make run: stopped"; exit 130' INT TERM

win_path() { printf 'Z:%s' "${1//\//\\}"; }
wine_run() { "$root/tools/wine-env.sh" run "$wine_dir" "$@"; }

# Waits up to 20 s for a file to appear.
await() {
  for _ in $(seq 200); do [ -e "$1" ] && return 0; sleep 0.1; done
  echo "make run: $2 did not start" >&2
  return 1
}

rm -rf "$out"
mkdir -p "$plugin"
# With a display the host shows there; without one on the prefix's own Xvfb.
keep=; [ $headless = 0 ] && keep=keep
KL_WINE_DISPLAY=$keep "$root/tools/wine-env.sh" setup "$wine_dir" >/dev/null || exit 1

python3 "$root/tools/demo/telnet_server.py" --port-file "$out/telnet.port" >"$out/telnet.log" 2>&1 &
pids+=($!)
link="$wine_dir/prefix/dosdevices/${com,,}"  # Wine looks COM ports up in lower case
python3 "$root/tools/demo/device.py" --link "$link" >"$out/device.log" 2>&1 &
pids+=($!)
await "$out/telnet.port" "the demo telnet server" || exit 1
await "$link" "the demo serial device" || exit 1
port=$(cat "$out/telnet.port")
# The demo device is the prefix's only serial port: the ports Wine found on
# this machine are not linked into it and would only fail to open.
wine_run reg delete 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /va /f >/dev/null 2>&1
wine_run reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v KestrelinkDemo /t REG_SZ /d "$com" /f \
  >/dev/null 2>&1

cp "$tree/kestrelink.dll" "$plugin/"
cp -r "$tree/languages" "$plugin/"
printf '%s\r\n' "[Plugin]" "Language=en" \
  "[Conn:$connection]" "Host=127.0.0.1" "Port=$port" "Mode=1" "ConnectInQuickView=1" \
  "[Port:$com]" "Baud=115200" "ConnectInQuickView=1" >"$plugin/kestrelink.ini"

echo "make run: telnet server on 127.0.0.1:$port, serial device on $com ($(readlink "$link"))"
echo "make run: plugin and settings in $plugin"
host=("$tree/kl_host.exe")
dll=$(win_path "$plugin/kestrelink.dll")
if [ $headless = 0 ]; then
  echo "make run: the host opens on $user_display; close it or press Ctrl+C to stop"
  wine_run "${host[@]}" "$dll"
  exit $?
fi

echo "make run: no display, running headless on a private Xvfb"
wine_run "${host[@]}" --list --view "$com" --quickview "TCP - $connection" --until-data \
  --wait "$wait_ms" --screenshot "$(win_path "$out/host.bmp")" \
  --summary "$(win_path "$out/summary.txt")" "$dll"
code=$?
for bmp in "$out"/*.bmp; do
  [ -e "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
echo "make run: summary and pictures in $out:"
ls "$out"/*.png "$out/summary.txt" 2>/dev/null | sed 's/^/  /'
if [ $code = 0 ]; then
  echo "make run: both terminals showed the demo data"
else
  echo "make run: FAILED (host exit code $code): not both terminals showed the demo data" >&2
fi
exit $code
