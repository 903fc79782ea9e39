#!/usr/bin/env bash
# Installs what is missing, builds and starts tarn-desktop.
#   ./run.sh [program arguments]        start the program (on a private Xvfb with a tray host when
#                                       there is no DISPLAY)
#   ./run.sh --screenshot FILE [args]   start it on a private Xvfb, save a screenshot of the screen to
#                                       FILE once the main window is up, and end it
set -euo pipefail
cd "$(dirname "$0")"

shot=""
if [ "${1:-}" = "--screenshot" ]; then
  shot="${2:?usage: $0 --screenshot FILE}"
  shift 2
  case "$shot" in /*) ;; *) shot="$PWD/$shot" ;; esac
fi

scripts/install-deps.sh
scripts/build.sh build
exe="$PWD/build/root/tarn-desktop"

pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ] || [ -n "$shot" ]; then
  disp=":$(( 90 + RANDOM % 100 ))"
  while [ -e "/tmp/.X11-unix/X${disp#:}" ]; do disp=":$(( 90 + RANDOM % 100 ))"; done
  Xvfb "$disp" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  export DISPLAY="$disp"
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  trayer --edge top --align right --widthtype request --height 24 --transparent false --tint 0xdddddd >/dev/null 2>&1 &
  pids+=($!)
  echo "tarn-desktop runs on the private display $DISPLAY (no DISPLAY was set)."
  echo "  see it:  DISPLAY=$DISPLAY import -window root screen.png   (or ./run.sh --screenshot FILE)"
  echo "  end it:  press Ctrl+C here, or choose Quit in the tray menu"
fi

if [ -n "$shot" ]; then
  "$exe" "$@" &
  app=$!
  pids+=($app)
  for _ in $(seq 100); do
    xdotool search --onlyvisible --name "Corvane Connect" >/dev/null 2>&1 && break
    sleep 0.1
  done
  sleep 1.5
  import -window root "$shot"
  echo "screenshot saved to $shot"
  exit 0
fi

"$exe" "$@"
