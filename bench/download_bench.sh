#!/bin/sh
# Download-and-verify benchmark: a 100 MB runtime installer, signed with the
# test PKI, served by the fixture server under Wine; the worker fetches and
# verifies it (under Wine), and curl fetches the same file natively.
# Usage: bench/download_bench.sh [build folder, default build/wine-x64] [--base EXE]
#   --base EXE: also run the download_bench.exe of an earlier build (same
#   server, same file), right before this build's, for a before/after.
# Binds 127.0.0.1:80 (holds /tmp/tv-port80.lock). Measures and prints only.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
buildArg=""
base=""
while [ $# -gt 0 ]; do
  case "$1" in
    --base) base=$2; shift 2 ;;
    *) buildArg=$1; shift ;;
  esac
done
build=$(cd "${buildArg:-$top/build/wine-x64}" && pwd)
pki="$build/test-pki"
work="$build/bench-download"
exe="$build/bench/download_bench.exe"
run="$build/wine-run"
[ -x "$exe" ] || { echo "build $exe first (cmake --build --preset wine-x64)" >&2; exit 2; }
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

rm -rf "$work"
mkdir -p "$work/temp"
head -c 100000000 /dev/urandom > "$work/installer"
start=$(date +%s%N)
openssl smime -sign -binary -in "$work/installer" -signer "$pki/signer.pem" -inkey "$pki/signer.key" \
  -certfile "$pki/inter.pem" -outform DER -out "$work/installer.p7"
echo "signing (openssl, native):  $(( ($(date +%s%N) - start) / 1000000 )) ms"

exec 9>/tmp/tv-port80.lock
flock 9
"$run" "$exe" serve "$(winpath "$work/installer")" "$(winpath "$work/installer.p7")" \
  "$(winpath "$pki/inter.crl")" "$(winpath "$work/ready")" "$(winpath "$work/stop")" &
server=$!
trap 'touch "$work/stop"; wait $server 2>/dev/null || true' EXIT
for _ in $(seq 1 300); do [ -s "$work/ready" ] && break; sleep 0.1; done
path=$(cat "$work/ready")

curl -s -o /dev/null -w 'curl (native):              %{time_total} s (%{speed_download} bytes/s)\n' \
  "http://127.0.0.1$path" | tee "$work/curl.txt"
curl=$(awk '{print $3}' "$work/curl.txt")
# The worker's figures, and its whole job against the transfer alone and
# against curl.
worker() {
  "$run" "$1" run "$(winpath "$work/temp")" | tr -d '\r' | tee "$work/out.txt"
  awk -v curl="$curl" '
    /^installer transfer:/ { transfer = $3 }
    /^download-and-verify total:/ { total = $3 }
    END { if (transfer > 0 && curl > 0)
            printf "whole job / transfer alone:  %.2fx; whole job / curl: %.1fx; transfer / curl: %.1fx\n",
                   total / transfer, total / curl, transfer / curl }' "$work/out.txt"
}
if [ -n "$base" ]; then
  echo "--- before ($base)"
  worker "$base"
  echo "--- after (this build)"
fi
worker "$exe"
touch "$work/stop"
wait $server || true
trap - EXIT
rm -rf "$work"
