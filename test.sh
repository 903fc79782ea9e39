#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
#   ./test.sh            normal build in build/
#   ./test.sh --asan     AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
#   ./test.sh --tsan     ThreadSanitizer build of the threaded tests in build-tsan/
set -euo pipefail
cd "$(dirname "$0")"

mode="${1:-normal}"
scripts/install-deps.sh

case "$mode" in
  normal|"")
    scripts/build.sh build
    cd build && ctest --output-on-failure -j2 --timeout 300
    ;;
  --asan)
    scripts/build.sh build-asan -DTARN_SANITIZE=ON -DTARN_BUILD_BENCH=OFF
    export ASAN_OPTIONS="detect_leaks=0:abort_on_error=0:halt_on_error=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    cd build-asan && ctest --output-on-failure -j2 --timeout 600 -LE "no-asan"
    ;;
  --tsan)
    scripts/build.sh build-tsan -DTARN_TSAN=ON -DTARN_BUILD_BENCH=OFF
    export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp"
    cd build-tsan && ctest --output-on-failure -j2 --timeout 600 -L threaded
    ;;
  *)
    echo "usage: $0 [--asan|--tsan]" >&2
    exit 2
    ;;
esac
