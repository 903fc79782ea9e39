#!/usr/bin/env bash
# scripts/build.sh <build-dir> [cmake options...] [-- targets...]: configures with Ninja and builds the
# given targets (all when none). Options given to a build folder that exists are applied to its cache.
set -euo pipefail
cd "$(dirname "$0")/.."
dir="$1"
shift
options=()
targets=()
while [ $# -gt 0 ]; do
  if [ "$1" = "--" ]; then
    shift
    targets=("$@")
    break
  fi
  options+=("$1")
  shift
done
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}"
elif [ ${#options[@]} -gt 0 ]; then
  cmake -S . -B "$dir" "${options[@]}" >/dev/null
fi
if [ ${#targets[@]} -gt 0 ]; then
  cmake --build "$dir" -j"$(nproc)" --target "${targets[@]}"
else
  cmake --build "$dir" -j"$(nproc)"
fi
