#!/bin/sh
# Rebuilds drawable/1/common/logo/main.ico from drawable/src/logo.svg: the build's resource
# generator renders the logo in the eight icon sizes, ImageMagick packs them (32-bit colour,
# 256 and 512 as PNG entries).
# usage: resource/drawable/make-icon.sh <build folder>
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: $0 <build folder>}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
QT_QPA_PLATFORM=offscreen "$build/resource/tarn_resourcegen" "$here" "$work/resource" "$work/hicolor"
convert $(for s in 16 24 32 48 64 128 256 512; do echo "$work/hicolor/$s/tarn-desktop.png"; done) \
    "$here/drawable/1/common/logo/main.ico"
