#!/bin/bash
# Fuzzes every target of a fuzz build for a bounded time, each on a copy of its seed corpus.
#   tests/fuzz/run.sh <fuzz-build-dir> <seconds-per-target> [target ...]
# Exits non-zero when any target crashes, breaks an invariant, leaks, times out or is missing.
# What a run found stays in <fuzz-build-dir>/fuzz-runs/<target>/: new inputs in corpus/, failing
# inputs as crash-*, leak-*, timeout-* and the log in fuzz.log.
set -u

if [ $# -lt 2 ]; then
  echo "usage: $0 <fuzz-build-dir> <seconds-per-target> [target ...]" >&2
  exit 2
fi
build=$(cd "$1" && pwd) || exit 2
seconds=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for dir in "$here"/corpus/*/; do
    targets+=("$(basename "$dir")")
  done
fi

failed=0
for target in "${targets[@]}"; do
  binary="$build/tests/fuzz/$target"
  if [ ! -x "$binary" ]; then
    echo "$target: not built ($binary)" >&2
    failed=1
    continue
  fi
  work="$build/fuzz-runs/$target"
  rm -rf "$work"
  mkdir -p "$work/corpus"
  cp -r "$here/corpus/$target/." "$work/corpus/"
  max_len=4096
  # The relay buffers a whole frame of 4 KiB plus its header; inputs must be able to exceed that.
  [ "$target" = fuzz_relay_frames ] && max_len=12288
  (
    cd "$work" &&
      HOME="$work" XDG_RUNTIME_DIR="$work" QT_QPA_PLATFORM=offscreen \
        "$binary" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/" "$work/corpus" >"$work/fuzz.log" 2>&1
  )
  status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/fuzz.log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/fuzz.log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$work/fuzz.log" | tail -1)
  if [ $status -ne 0 ] || ls "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-* >/dev/null 2>&1; then
    echo "$target: FAILED (exit $status) after ${runs:-?} runs; see $work/fuzz.log"
    ls "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-* 2>/dev/null
    grep -m5 -E 'ERROR|invariant broken|runtime error' "$work/fuzz.log"
    failed=1
  else
    echo "$target: ok, ${runs:-?} runs, ${rate:-?} exec/s, ${cov:-cov: ?}"
  fi
done
exit $failed
