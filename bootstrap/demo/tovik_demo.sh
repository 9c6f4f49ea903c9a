#!/bin/sh
# Shows tovik.exe at work under Wine: installs the tests' fake runtime (an MSI
# made with wixl) into the build's Wine prefix, runs tovik.exe beside a
# ".launch" naming a sample application file, prints its standard output,
# exit code, what the runtime's application installer (a recorder) was given
# and the log; then the same with a runtime too old and no -allowDownload.
# Removes the fake runtime again at the end.
#
#   bootstrap/demo/tovik_demo.sh [BUILD_DIR]     (default: build/wine-x64)
#
# BUILD_DIR is a configured Windows build whose programs run under Wine here
# (wine-x64 on machines without 32-bit Wine, else windows).
set -eu
top=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$top/build/wine-x64}" && pwd)
run="$build/wine-run"
prefix="$build/wine"
fake="$build/tests/bootstrap/fake_runtime"
[ -x "$run" ] || { echo "no wine-run in $build: configure that build first" >&2; exit 1; }

cmake --build "$build" --target tovik recorder fake_runtime_msis >/dev/null

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# The build's prefix (made once, as the tests make it) with a server running.
sh "$top/tests/support/wine-prefix.sh" "$run" "$prefix"
trap 'sh "$top/tests/support/wine-prefix.sh" "$run" "$prefix" stop' EXIT

demo="$build/tovik-demo"
rm -rf "$demo"
mkdir -p "$demo/app"
cp "$build/bootstrap/tovik.exe" "$demo/app/tovik.exe"
printf 'application bytes\n' > "$demo/app/sample.app"
printf 'Install sample.app\r\n\r\n' > "$demo/app/.launch"
cd "$demo"

log=$(find "$prefix/drive_c/users" -path '*/AppData/Local/Tessaro/Vantel/logs/Install.log' 2>/dev/null | head -n 1)
[ -z "$log" ] || rm -f "$log"

msi() { "$run" msiexec "$1" "$(winpath "$fake/fake_runtime_$2.msi")" /qn </dev/null >/dev/null 2>&1; }

run_tovik() {
  echo "\$ tovik.exe $*"
  set +e
  TV_RECORD=$(winpath "$demo/record.txt") TV_EXIT_CODE=0 "$run" "$demo/app/tovik.exe" "$@" </dev/null >"$demo/out.txt" 2>/dev/null
  code=$?
  set -e
  sed 's/\r$//; s/^/  stdout: /' "$demo/out.txt"
  echo "  exit code: $code"
  if [ -f "$demo/record.txt" ]; then
    sed -n 's/^cmdline=/  application installer command line: /p' "$demo/record.txt"
    rm -f "$demo/record.txt"
  fi
}

echo "== runtime 2.0.0.0 installed: tovik starts its application installer"
msi /i v2
run_tovik -silent -eulaAccepted
msi /x v2

echo "== runtime 1.9.65535.65535 installed, no -allowDownload: tovik ends with 10"
msi /i v1
run_tovik -silent
msi /x v1

log=$(find "$prefix/drive_c/users" -path '*/AppData/Local/Tessaro/Vantel/logs/Install.log' | head -n 1)
echo "== the log (${log#"$prefix"/})"
tail -c +4 "$log" | sed 's/\r$//'
