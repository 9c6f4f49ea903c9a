#!/bin/sh
# Runs fuzz targets of a host build for a fixed number of executions each, one
# after another and at low priority, and prints per target the executions, the
# coverage reached (libFuzzer's cov and ft), the time taken and, when a target
# crashed, how long that took. A command, not a test.
#
# usage: fuzz/run_long.sh [-n runs] [-l max len] [-b build folder] [-o output folder] [target...]
#   runs     executions per target (default 1000000)
#   max len  longest input in bytes (default 4096; the 7z target takes the
#            header first, so a cut input loses packed data, not names)
#   build    the host build (default build/host)
#   output   corpora, crash files and logs (default <build>/fuzz/long)
#   target   fuzz targets to run (default: every target of the build)
# The two launcher targets start from their seeds (built with them; the
# payload target also takes its dictionary), the others from an empty
# corpus; a crash file lands in <output>/<target>/.
set -eu
runs=1000000
maxlen=4096
build=build/host
out=
while getopts n:l:b:o: opt; do
  case $opt in
    n) runs=$OPTARG ;;
    l) maxlen=$OPTARG ;;
    b) build=$OPTARG ;;
    o) out=$OPTARG ;;
    *) sed -n '2,17p' "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[ -n "$out" ] || out=$build/fuzz/long
targets=${*:-"launcher_payload_fuzzer seven_zip_fuzzer tovik_launch_file_fuzz tovik_param_check_fuzz"}
mkdir -p "$out"
status=0
for target in $targets; do
  binary=$build/fuzz/$target
  [ -x "$binary" ] || { echo "$target: no binary at $binary" >&2; status=1; continue; }
  dir=$out/$target
  rm -rf "$dir"
  mkdir -p "$dir/corpus"
  seeds=
  dict=
  case $target in
    seven_zip_fuzzer) seeds=$build/fuzz/seven_zip_seeds ;;
    launcher_payload_fuzzer)
      seeds=$build/fuzz/launcher_payload_seeds
      dict=-dict=$(dirname "$0")/launcher_payload.dict ;;
  esac
  [ -z "$seeds" ] || [ -d "$seeds" ] || seeds=
  start=$(date +%s)
  # -runs counts executions after the seeds were read; the log keeps
  # libFuzzer's own lines.
  if nice -n 15 "$binary" -runs="$runs" -max_len="$maxlen" -rss_limit_mb=1024 -print_final_stats=1 \
       -artifact_prefix="$dir/" $dict "$dir/corpus" $seeds >"$dir/log.txt" 2>&1; then
    outcome=clean
  else
    outcome=crashed
    status=1
  fi
  seconds=$(( $(date +%s) - start ))
  last=$(grep -E '^#[0-9]+' "$dir/log.txt" | tail -n 1)
  execs=$(grep -E '^stat::number_of_executed_units' "$dir/log.txt" | awk '{print $2}')
  [ -n "$execs" ] || execs=$(echo "$last" | sed -E 's/^#([0-9]+).*/\1/')
  cov=$(echo "$last" | sed -nE 's/.* cov: ([0-9]+).*/\1/p')
  ft=$(echo "$last" | sed -nE 's/.* ft: ([0-9]+).*/\1/p')
  echo "$target: $outcome after ${seconds} s, executions ${execs:-?}, cov ${cov:-?}, ft ${ft:-?}"
  if [ "$outcome" = crashed ]; then
    grep -m 1 -E 'ERROR: (AddressSanitizer|libFuzzer|UndefinedBehaviorSanitizer)|runtime error' "$dir/log.txt" || true
    ls "$dir"/crash-* "$dir"/leak-* "$dir"/timeout-* "$dir"/oom-* 2>/dev/null || true
  fi
done
exit $status
