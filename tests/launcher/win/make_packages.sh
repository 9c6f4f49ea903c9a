#!/bin/sh
# Builds the payloads and packages the launcher's end-to-end tests share:
#   stored.zip    zip -0: the default setup program, nested folders, an empty folder
#   deflated.zip  zip -6: a .launch (CR LF lines) naming bin/setup.exe
#   unsigned.exe  launcher + deflated.zip
#   signed.exe    the same, Authenticode-signed with a throwaway certificate
#   nested.exe    signed.exe with a second, nested signature
#   signed-7z.exe launcher + the stored tree as 7z (LZMA), signed
#   signed-launcher.exe  the bare launcher, signed (as a maker ships it)
#   noise-7z.exe  launcher + a 7z (LZMA) of the default setup program and 6 MB of noise
#   small-7z.exe  the same noise as 1,536 files of 4 KiB
# Usage: make_packages.sh <launcher.exe> <recorder.exe> <output folder>
set -eu
launcher=$1
recorder=$2
out=$3
rm -rf "$out"
mkdir -p "$out"

s=$out/stage/stored
mkdir -p "$s/data/nested/deep" "$s/emptydir"
cp "$recorder" "$s/Tessaro Vantel Installer.exe"
printf 'deep\n' >"$s/data/nested/deep/file.txt"
printf 'readme\n' >"$s/data/readme.txt"
(cd "$s" && zip -q -0 -r ../../stored.zip . && 7zz a -bd -bso0 -m0=LZMA ../../stored.7z . >/dev/null)

d=$out/stage/deflated
mkdir -p "$d/bin/lib"
cp "$recorder" "$d/bin/setup.exe"
printf 'bin/setup.exe\r\nsecond line, ignored\r\n' >"$d/.launch"
seq 1 50000 >"$d/bin/lib/numbers.txt"
(cd "$d" && zip -q -6 -r ../../deflated.zip .)

cat "$launcher" "$out/deflated.zip" >"$out/unsigned.exe"
# A certificate made for this build only; its key is deleted at once.
openssl req -x509 -newkey rsa:2048 -nodes -days 7 -subj "/CN=Tessaro Vantel Test Publisher" \
  -keyout "$out/key.pem" -out "$out/cert.pem" 2>/dev/null
sign() { osslsigncode sign -certs "$out/cert.pem" -key "$out/key.pem" -n "Tessaro Vantel test package" "$@" >/dev/null; }
sign -in "$out/unsigned.exe" -out "$out/signed.exe"
sign -nest -in "$out/signed.exe" -out "$out/nested.exe"
cat "$launcher" "$out/stored.7z" >"$out/unsigned-7z.exe"
sign -in "$out/unsigned-7z.exe" -out "$out/signed-7z.exe"
sign -in "$launcher" -out "$out/signed-launcher.exe"
rm -f "$out/key.pem" "$out/stored.7z" "$out/unsigned-7z.exe"

n=$out/stage/noise
mkdir -p "$n"
cp "$recorder" "$n/Tessaro Vantel Installer.exe"
head -c 6291456 /dev/urandom >"$n/noise.bin"
(cd "$n" && 7zz a -bd -bso0 -m0=LZMA ../noise.7z . >/dev/null)
cat "$launcher" "$out/stage/noise.7z" >"$out/noise-7z.exe"
mkdir -p "$n/small"
(cd "$n/small" && split -a 4 -b 4096 ../noise.bin part)
rm "$n/noise.bin"
(cd "$n" && 7zz a -bd -bso0 -m0=LZMA ../small.7z . >/dev/null)
cat "$launcher" "$out/stage/small.7z" >"$out/small-7z.exe"
rm -rf "$out/stage"
