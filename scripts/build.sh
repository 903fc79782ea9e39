#!/usr/bin/env bash
# scripts/build.sh <build-dir> [cmake options...]: configures (once) and builds with Ninja.
set -euo pipefail
cd "$(dirname "$0")/.."
dir="$1"
shift
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
fi
cmake --build "$dir" -j"$(nproc)"
