#!/bin/bash
# Starts the built program on a private X display and saves a picture of its main window.
# usage: screenshot-main.sh <build folder> <output.png> [language]
# With CHECK=1 it also fails unless the picture is a window of at least 720x480 showing more than a
# flat colour.
set -euo pipefail
build=$(cd "${1:?usage: $0 <build folder> <output.png> [language]}" && pwd)
out=${2:?usage: $0 <build folder> <output.png> [language]}
language=${3:-}

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display itself and tells its number.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 400); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -1 "$work/display")"

if command -v trayer >/dev/null; then
    trayer --edge bottom --align right --widthtype request --height 24 >/dev/null 2>&1 &
    pids+=($!)
fi

export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$HOME" "$XDG_CONFIG_HOME/tarn-desktop/Config" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
if [ -n "$language" ]; then
    printf '[Language]\nstrWebLanguage=%s\n' "$language" > "$XDG_CONFIG_HOME/tarn-desktop/Config/UserData.ini"
fi

"$build/root/tarn-desktop" >"$work/program.log" 2>&1 &
pids+=($!)

# A loaded machine (tests run in parallel) can take many seconds to bring the window up.
window=
for _ in $(seq 400); do
    window=$(xdotool search --onlyvisible --name '^Corvane Connect$' 2>/dev/null | head -1 || true)
    [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || { echo "the main window did not appear" >&2; cat "$work/program.log" >&2; exit 1; }
sleep 1.5
import -window "$window" "$out"
echo "saved $out"
if [ "${CHECK:-0}" = 1 ]; then
    info=$(convert "$out" -format '%w %h %k' info:)
    read -r width height colours <<<"$info"
    echo "window ${width}x${height}, ${colours} colours"
    [ "$width" -ge 720 ] && [ "$height" -ge 480 ] && [ "$colours" -gt 50 ] || { echo "the window looks empty" >&2; exit 1; }
fi
