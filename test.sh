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
    scripts/build.sh build -DTARN_WERROR=ON
    cd build && ctest --output-on-failure -j2 --timeout 300
    ;;
  --asan)
    scripts/build.sh build-asan -DTARN_SANITIZE=ON -DTARN_BUILD_BENCH=OFF -DTARN_WERROR=ON
    export ASAN_OPTIONS="detect_leaks=0:abort_on_error=0:halt_on_error=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    cd build-asan && ctest --output-on-failure -j2 --timeout 600 -LE "no-asan"
    ;;
  --tsan)
    # Only the threaded tests run here, so only they are built (each test is a target of its name).
    if [ ! -f build-tsan/build.ninja ]; then
      cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARN_TSAN=ON -DTARN_BUILD_BENCH=OFF \
        -DTARN_WERROR=ON
    fi
    targets=$(cd build-tsan && ctest -N -L threaded | awk '/Test +#/ {print $3}')
    cmake --build build-tsan -j"$(nproc)" --target $targets
    export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:die_after_fork=0:suppressions=$PWD/tests/tsan.supp"
    cd build-tsan && ctest --output-on-failure -j2 --timeout 600 -L threaded
    ;;
  *)
    echo "usage: $0 [--asan|--tsan]" >&2
    exit 2
    ;;
esac
