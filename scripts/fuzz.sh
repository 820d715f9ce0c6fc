#!/usr/bin/env bash
# Builds the libFuzzer targets (clang++, AddressSanitizer, UndefinedBehaviorSanitizer)
# in build-fuzz and runs each target in turn for a given time.
#
#   scripts/fuzz.sh                 600 seconds per target
#   scripts/fuzz.sh --seconds N     N seconds per target
#   scripts/fuzz.sh --short         20 seconds per target (the test command uses it)
#   ... [TARGET...]                 only these targets (fuzz_bmp_reader,
#                                   fuzz_load_path, fuzz_exchange,
#                                   fuzz_png_reader, fuzz_jpeg_reader)
#
# The corpus grows in fuzz-out/TARGET/corpus (the seeds under tests/fuzz/corpus are
# only read); a finding is written to fuzz-out/TARGET/ as crash-*, leak-*, timeout-*
# or oom-*, its log is fuzz-out/TARGET/log, and the script exits non-zero.
# fuzz-out/summary.txt gets one line per target: executions, executions per second
# and findings. RUVANTA_FUZZ_OUT and RUVANTA_FUZZ_BUILD move fuzz-out and build-fuzz.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=600
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --short) seconds=20 ;;
    --seconds) seconds="$2"; shift ;;
    --seconds=*) seconds="${1#--seconds=}" ;;
    -h|--help) sed -n '2,17p' "$0"; exit 0 ;;
    fuzz_*) targets+=("$1") ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
  shift
done
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_bmp_reader fuzz_load_path fuzz_exchange
  fuzz_png_reader fuzz_jpeg_reader)

build="${RUVANTA_FUZZ_BUILD:-build-fuzz}"
outs="${RUVANTA_FUZZ_OUT:-fuzz-out}"
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DRUVANTA_FUZZ=ON -DRUVANTA_GUI=OFF -DRUVANTA_BENCH=OFF -DRUVANTA_TESTS=OFF \
  -DRUVANTA_SANITIZE=OFF >/dev/null
cmake --build "$build" -j 2 --target "${targets[@]}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:symbolize=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

max_len() {
  case "$1" in
    fuzz_bmp_reader) echo 4096 ;;
    fuzz_load_path) echo 8192 ;;
    fuzz_exchange) echo 512 ;;
    fuzz_png_reader) echo 8192 ;;
    fuzz_jpeg_reader) echo 8192 ;;
  esac
}

mkdir -p "$outs"
summary="$outs/summary.txt"
: >"$summary"
failed=0
for t in "${targets[@]}"; do
  out="$outs/$t"
  mkdir -p "$out/corpus"
  seeds="tests/fuzz/corpus/$t"
  [ -d "$seeds" ] && cp -n "$seeds"/* "$out/corpus/" 2>/dev/null || true
  echo "== $t: $seconds s"
  touch "$out/.start"
  status=0
  "$build/fuzz/$t" -max_total_time="$seconds" -max_len="$(max_len "$t")" \
    -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$out/" "$out/corpus" >"$out/log" 2>&1 || status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out/log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$out/log" | tail -1)
  findings=$(find "$out" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' \
    -o -name 'timeout-*' -o -name 'oom-*' \) -newer "$out/.start" | wc -l)
  [ "$status" -ne 0 ] && [ "$findings" -eq 0 ] && findings=1
  line="$t: ${seconds} s, ${execs:-?} executions, ${rate:-?} exec/s, $findings finding(s)"
  echo "$line" | tee -a "$summary"
  if [ "$status" -ne 0 ]; then
    failed=1
    echo "finding in $t (exit $status); see $out/log" >&2
    grep -m 20 -E 'ERROR|runtime error|invariant broken|Test unit written' "$out/log" >&2 || true
  fi
done
exit "$failed"
