#!/bin/sh
# Creates the build's Wine prefix once and keeps a wineserver running for the
# rest of the test run (start = the fixture, "stop" = its clean-up).
set -eu
run=$1
prefix=$2
export WINEPREFIX="$prefix" WINEDEBUG=-all
server=/usr/lib/wine/wineserver
if [ "${3:-}" = stop ]; then
  "$server" -k >/dev/null 2>&1 || true
  exit 0
fi
if [ ! -f "$prefix/.tv-ready" ]; then
  rm -rf "$prefix"
  "$run" wineboot -i </dev/null >/dev/null 2>&1 || true
  "$server" -w
  [ -f "$prefix/system.reg" ] || { echo "wineboot did not create $prefix" >&2; exit 1; }
  # No window manager under Xvfb: Wine draws the frames itself and does not
  # wait on one when windows are hidden or destroyed.
  "$run" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f </dev/null >/dev/null 2>&1
  "$run" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
  # Real dialog fonts, so dialogs have their designed size.
  if ls /usr/share/wine/fonts/*.ttf >/dev/null 2>&1; then
    cp /usr/share/wine/fonts/*.ttf "$prefix/drive_c/windows/Fonts/"
  fi
  "$server" -w
  touch "$prefix/.tv-ready"
fi
# A persistent server keeps program start-up cheap; its output must not hold
# the test runner's pipes open. It detaches once its socket is up, so waiting
# for it means no test can start a server of its own (which would inherit the
# runner's pipes and, made persistent by this call, never let the test end).
"$server" -p </dev/null >/dev/null 2>&1 || true
# The first program of a fresh server starts Wine's background services
# (services.exe, plugplay, winedevice), which keep that program's standard
# handles. Start them here, on /dev/null, rather than from a test whose
# output pipe they would then hold open until the server ends.
"$run" cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
# The first window of a session starts the desktop process (explorer), which
# then lives as long as the server and holds on to the output pipes of the
# test program that happened to create it, so that test never ends. Start it
# here, with nothing to inherit (rundll32 makes a window of its own).
"$run" rundll32.exe user32.dll,MessageBeep </dev/null >/dev/null 2>&1 || true
exit 0
