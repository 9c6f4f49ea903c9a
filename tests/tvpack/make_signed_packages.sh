#!/bin/sh
# Makes the signed packages of tvpack_package_test: a source folder, a
# ZIP-style and a 7z package made by tvpack.exe under Wine, and each signed
# with a throwaway certificate by osslsigncode with the arguments that
# "tvpack sign --cert --key --description" gives it (Wine cannot start the
# Linux signing tool from tvpack.exe itself).
# Usage: make_signed_packages.sh <wine-run> <tvpack.exe> <recorder.exe> <output folder>
set -eu
run=$1
tvpack=$2
recorder=$3
out=$4
winpath() { printf 'Z:%s' "$(printf '%s' "$1" | sed 's|/|\\|g')"; }
rm -rf "$out"
mkdir -p "$out/source/bin" "$out/source/data" "$out/source/empty folder"
cp "$recorder" "$out/source/bin/setup.exe"
seq 1 40000 >"$out/source/data/numbers.txt"
head -c 200000 /dev/urandom >"$out/source/data/noise.bin"
: >"$out/source/empty.txt"
for format in zip 7z; do
  "$run" "$tvpack" create "$(winpath "$out/source")" -o "$(winpath "$out/$format.exe")" \
    --setup 'bin\setup.exe' --format "$format" --quiet
done
openssl req -x509 -newkey rsa:2048 -nodes -days 7 -subj "/CN=Tessaro Vantel Test Publisher" \
  -keyout "$out/key.pem" -out "$out/cert.pem" 2>/dev/null
for format in zip 7z; do
  osslsigncode sign -h sha256 -certs "$out/cert.pem" -key "$out/key.pem" \
    -n "Tessaro Vantel test package" -in "$out/$format.exe" -out "$out/$format-signed.exe" >/dev/null
done
rm -f "$out/key.pem"
