#!/bin/sh
# Runs the ProxyRun cases of tovik_network_e2e_test behind two real proxies
# (tinyproxy): one open, one that wants Basic credentials. The proxy is a
# setting of the whole Wine prefix, so the cases run in a prefix of their
# own (made once, kept in the build) with a server of its own, stopped at
# the end. Skips (77) when tinyproxy is missing.
# Usage: proxy_e2e.sh <wine loader> <prefix> <scratch folder> <test program> [exec prefix...]
set -eu
loader=$1
prefix=$2
scratch=$3
program=$4
shift 4
command -v tinyproxy >/dev/null 2>&1 || { echo "tinyproxy is not installed: skipped"; exit 77; }

export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml=" WINELOADER="$loader"
# The proxy under test is the system's setting, never the environment's.
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY
[ -n "${LC_ALL:-}${LC_CTYPE:-}${LANG:-}" ] || export LC_CTYPE=C.UTF-8
server=/usr/lib/wine/wineserver

if [ ! -f "$prefix/.tv-ready" ]; then
  rm -rf "$prefix"
  "$@" "$loader" wineboot -i </dev/null >/dev/null 2>&1 || true
  "$server" -w
  "$@" "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f </dev/null >/dev/null 2>&1
  "$@" "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
  "$server" -w
  touch "$prefix/.tv-ready"
fi

rm -rf "$scratch"
mkdir -p "$scratch"
# Ports of this run: two free ones above 20000.
ports=$(python3 -c 'import socket
s=[socket.socket() for _ in range(2)]
[x.bind(("127.0.0.1",0)) for x in s]
print(" ".join(str(x.getsockname()[1]) for x in s))')
open_port=${ports% *}
auth_port=${ports#* }
for kind in open auth; do
  port=$open_port
  [ $kind = auth ] && port=$auth_port
  {
    echo "Port $port"
    echo "Listen 127.0.0.1"
    echo "Allow 127.0.0.1"
    echo "Timeout 30"
    echo "MaxClients 20"
    echo "LogFile \"$scratch/$kind.log\""
    echo "LogLevel Info"
    [ $kind = auth ] && echo "BasicAuth tovik not-a-secret"
  } > "$scratch/$kind.conf"
done
tinyproxy -d -c "$scratch/open.conf" >/dev/null 2>&1 &
open_pid=$!
tinyproxy -d -c "$scratch/auth.conf" >/dev/null 2>&1 &
auth_pid=$!
cleanup() {
  kill "$open_pid" "$auth_pid" 2>/dev/null || true
  WINEPREFIX="$prefix" "$server" -k >/dev/null 2>&1 || true
}
trap cleanup EXIT
# Both listening before the first request (at most 5 s).
for _ in $(seq 50); do
  python3 -c "import socket,sys
for p in ($open_port,$auth_port): socket.create_connection(('127.0.0.1',p),1).close()" 2>/dev/null && break
  sleep 0.1
done

status=0
TV_PROXY_OPEN="127.0.0.1:$open_port" TV_PROXY_AUTH="127.0.0.1:$auth_port" \
  "$@" "$loader" "$program" --gtest_filter='ProxyRun.*' || status=$?
[ $status -eq 0 ] || { echo "--- open proxy log"; cat "$scratch/open.log"; echo "--- auth proxy log"; cat "$scratch/auth.log"; } 2>/dev/null
exit $status
