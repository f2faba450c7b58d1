#!/bin/bash
# A private Wine world for one test run:
#   wine-env.sh setup   DIR [DPI]   fresh prefix + Xvfb display, persistent wineserver;
#                                   DPI (default 96) sets the screen's logical pixels per inch
#   wine-env.sh run     DIR EXE...  run a Windows program inside it (exit code passes through)
#   wine-env.sh cleanup DIR         stop everything it started and remove the prefix
# Never touches ~/.wine.
#
# With KL_WINE_I386=1 at setup the prefix also runs i386 programs. Where this
# machine executes 32-bit Linux programs, Wine's own 32-bit half does that.
# Where it cannot (some virtual machines refuse them with "Exec format error"),
# the prefix is made "emulated": Wine's i386 builtin libraries are placed into
# it and programs run through qemu-user (tools/i386-emulated.sh). Starting an
# i386 process costs over a minute there, and Wine's asynchronous I/O (sockets,
# serial ports) does not survive it, so in that mode only programs started with
# KL_EMULATION_OK=1 run; every other program reports itself skipped (exit code
# 77) with the reason.
# A program started with KL_EMULATED_ONLY=1 too (tests that single programs
# run, combined into one start) reports itself skipped where i386 programs run
# natively, so that no test runs twice there.
# KL_I386_EMULATE=1 at setup makes the prefix emulated even where 32-bit
# programs run natively: the emulated machines' run, reproduced and timed on
# any machine.
set -uo pipefail

cmd=${1:?command}; dir=$(realpath -m "${2:?dir}"); shift 2
dpi=96
[ "$cmd" = setup ] && [ $# -gt 0 ] && dpi=$1

export WINEPREFIX="$dir/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEARCH=win64

# Debian's `wine` script starts the 32-bit loader whenever wine32 is installed,
# even for 64-bit programs; the 64-bit loader is called directly instead, and it
# hands 32-bit programs to the 32-bit loader itself.
export WINELOADER=/usr/lib/wine/wine64
wine() { /usr/lib/wine/wine64 "$@"; }

case "$cmd" in
setup)
  "$0" cleanup "$dir" >/dev/null 2>&1
  rm -rf "$dir"; mkdir -p "$dir" "$WINEPREFIX"
  # KL_WINE_DISPLAY=keep: the caller's own display instead of a private one
  # (make run in a desktop session).
  if [ "${KL_WINE_DISPLAY:-}" = keep ] && [ -n "${DISPLAY:-}" ]; then
    printf 'XVFB_PID=\nexport DISPLAY=%s\n' "$DISPLAY" >"$dir/env"
  else
  # Xvfb picks a free display number itself and writes it to the file once
  # it listens: runs that start at the same moment cannot end up sharing one.
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$dir/display" >"$dir/xvfb.log" 2>&1 &
  pid=$!
  n=
  for _ in $(seq 200); do
    # the number is complete once its line ends
    if [ "$(wc -l <"$dir/display")" -ge 1 ]; then n=$(tr -dc 0-9 <"$dir/display"); break; fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  [ -n "$n" ] || { echo "Xvfb did not start" >&2; cat "$dir/xvfb.log" >&2; exit 1; }
  echo "XVFB_PID=$pid" >"$dir/env"
  echo "export DISPLAY=:$n" >>"$dir/env"
  fi
  # shellcheck disable=SC1091
  . "$dir/env"
  wineserver -p >/dev/null 2>&1 </dev/null   # stays up for the whole run: no restart per test
  wine wineboot -i >"$dir/wineboot.log" 2>&1
  # Wine links COM ports to the machine's ttyS devices; tests add their own.
  rm -f "$WINEPREFIX"/dosdevices/com*
  # Without a window manager on the Xvfb display, Wine waits about 2 s for
  # every managed top-level window that hides or goes away; unmanaged windows
  # (drawn with Wine's own frame and caption) do not wait.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  if [ "$dpi" != 96 ]; then
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    wine reg add 'HKCC\Software\Fonts' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
  fi
  test -d "$WINEPREFIX/drive_c" || { echo "wineboot failed" >&2; cat "$dir/wineboot.log" >&2; exit 1; }
  if [ "${KL_WINE_I386:-0}" = 1 ]; then
    root=$(cd "$(dirname "$0")/.." && pwd)
    i386=none
    if [ "${KL_I386_EMULATE:-0}" != 1 ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
      i386=native
    elif [ -x /usr/bin/qemu-i386-static ] &&
         unshare -Urm "$root/tools/i386-emulated.sh" /usr/lib/wine/wine --version >/dev/null 2>&1; then
      i386=emulated
      wow="$WINEPREFIX/drive_c/windows/syswow64"
      mkdir -p "$wow" && cp -n /usr/lib/i386-linux-gnu/wine/i386-windows/* "$wow/"
      # An i386 program that crashes would start the debugger (Wine's default
      # when none is named): one more emulated start, which can hang. With a
      # name that starts nothing it ends at once with the fault's code.
      wine reg add 'HKLM\Software\Wow6432Node\Microsoft\Windows NT\CurrentVersion\AeDebug' \
        /v Debugger /d no-debugger-under-emulation /f >/dev/null 2>&1
    fi
    echo "KL_I386=$i386" >>"$dir/env"
    echo "i386 programs: $i386"
  fi
  # A settings file that cannot be written, not even by root (tests of the
  # write-failure paths): read-only attribute, no write bits and, where the
  # file system allows it, the immutable flag on the file and its folder.
  ro="$dir/readonly"; mkdir -p "$ro"
  printf '[Plugin]\r\nTheme=dark\r\n[Conn:ro]\r\nHost=h\r\n' >"$ro/kestrelink.ini"
  chmod a-w "$ro/kestrelink.ini" "$ro"
  chattr +i "$ro/kestrelink.ini" "$ro" 2>/dev/null || true
  echo "export KL_READONLY_INI=$ro/kestrelink.ini" >>"$dir/env"
  echo "wine prefix ready: $WINEPREFIX (display $DISPLAY)"
  ;;
run)
  [ -f "$dir/env" ] || { echo "no wine prefix in $dir: run setup first" >&2; exit 1; }
  # shellcheck disable=SC1091
  . "$dir/env"
  exe=${1:?exe}; shift
  case "${KL_I386:-}" in
  native)
    if [ "${KL_EMULATED_ONLY:-0}" = 1 ]; then
      echo "SKIPPED: i386 programs run natively here, and the single test programs run these tests"
      exit 77
    fi ;;
  none)
    echo "SKIPPED: this machine cannot execute i386 programs (natively or through qemu-user)"
    exit 77 ;;
  emulated)
    if [ "${KL_EMULATION_OK:-0}" != 1 ]; then
      echo "SKIPPED: i386 programs cannot execute natively here; under qemu-user the tests the" \
           "emulator can run are combined into the i386.emulated programs"
      exit 77
    fi
    # Shown as it comes (a hang shows where it stopped), kept for the check below.
    out=$(mktemp "$dir/run.XXXXXX")
    unshare -Urm "$(cd "$(dirname "$0")/.." && pwd)/tools/i386-emulated.sh" \
      /usr/lib/wine/wine64 "$exe" "$@" >"$out" 2>&1 &
    pid=$!
    tail -n +1 -s 0.2 -f --pid=$pid "$out" &
    wait $pid
    rc=$?
    wait
    # An i386 program the emulator gives up on can still end with 0; a test
    # program passed only when GoogleTest got to its closing lines.
    if [ $rc = 0 ] && grep -q '^\[==========\] Running' "$out" &&
       ! grep -q '^\[==========\] .* ran\.' "$out"; then
      echo "FAILED: the program ended before its tests did (exit code 0 from the emulator)"
      rc=1
    fi
    rm -f "$out"
    exit $rc ;;
  esac
  # Output goes through a file, not straight to the caller's pipe: a Wine
  # process the program happens to start (the desktop's explorer.exe, when it
  # had ended) inherits the descriptors and outlives the program, and a
  # caller reading the pipe to its end (ctest) would wait for it.
  out=$(mktemp "$dir/run.XXXXXX")
  wine "$exe" "$@" >"$out" 2>&1
  rc=$?
  cat "$out"
  rm -f "$out"
  exit $rc
  ;;
cleanup)
  if [ -f "$dir/env" ]; then
    # shellcheck disable=SC1091
    . "$dir/env"
    wineserver -k 2>/dev/null
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
  fi
  chattr -i "$dir/readonly" "$dir/readonly/kestrelink.ini" 2>/dev/null
  chmod -R u+w "$dir/readonly" 2>/dev/null
  rm -rf "$WINEPREFIX" "$dir/readonly"
  rm -f "$dir/env"
  ;;
*)
  echo "usage: $0 setup|run|cleanup DIR [EXE ARGS...]" >&2; exit 2 ;;
esac
