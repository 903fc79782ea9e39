#!/usr/bin/env bash
# Builds and runs every benchmark; each prints "<name>: ratio=<r> goal<=<g>" lines. Only the benchmarks
# and what they run are built, not the tests.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/build.sh build-bench -DCMAKE_BUILD_TYPE=Release -DTARN_BUILD_TESTS=OFF -- tarn_benchmarks
status=0
for b in build-bench/bench/*/bench_*; do
  [ -f "$b" ] && [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" || status=1
done
exit $status
