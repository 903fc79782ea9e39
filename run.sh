#!/usr/bin/env bash
# Installs what is missing, builds and starts tarn-desktop.
#   ./run.sh [program arguments]        start the program (on a private Xvfb with a tray host when
#                                       there is no DISPLAY)
#   ./run.sh --screenshot FILE [args]   start it on a private Xvfb with private settings, save a
#                                       screenshot of the screen to FILE once the main window is up,
#                                       and close it again
set -euo pipefail
cd "$(dirname "$0")"

shot=""
if [ "${1:-}" = "--screenshot" ]; then
  shot="${2:?usage: $0 --screenshot FILE [program arguments]}"
  shift 2
  case "$shot" in /*) ;; *) shot="$PWD/$shot" ;; esac
  if [ ! -d "$(dirname "$shot")" ]; then
    echo "run.sh: no folder $(dirname "$shot") for the screenshot" >&2
    exit 2
  fi
fi

scripts/install-deps.sh
# Only what runs: the program and what lands in its installation root, not the tests and benchmarks.
scripts/build.sh build -- tarn_root
exe="$PWD/build/root/tarn-desktop"

pids=()
scratch=""
cleanup() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  if [ -n "$scratch" ]; then rm -rf "$scratch"; fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

if [ -z "${DISPLAY:-}" ] || [ -n "$shot" ]; then
  scratch="$(mktemp -d /tmp/tarn-run.XXXXXX)"
  # Xvfb picks a free display itself and writes its number to the file.
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$scratch/display" >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    grep -q '^[0-9]' "$scratch/display" 2>/dev/null && break
    sleep 0.1
  done
  if ! grep -q '^[0-9]' "$scratch/display" 2>/dev/null; then
    echo "run.sh: Xvfb did not start" >&2
    exit 1
  fi
  export DISPLAY=":$(head -n1 "$scratch/display")"
  # Without a session bus Qt would auto-launch one (dbus-launch) that outlives the program; a private
  # bus ends with this script instead.
  if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ] || [ -n "$shot" ]; then
    dbus-daemon --session --nofork --address="unix:path=$scratch/bus" >/dev/null 2>&1 &
    pids+=($!)
    for _ in $(seq 50); do
      [ -S "$scratch/bus" ] && break
      sleep 0.1
    done
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$scratch/bus"
  fi
  trayer --edge top --align right --widthtype request --height 24 --transparent false --tint 0xdddddd \
    >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do
    xdotool search --class trayer >/dev/null 2>&1 && break
    sleep 0.1
  done
  if [ -z "$shot" ]; then
    echo "tarn-desktop runs on the private display $DISPLAY (no DISPLAY was set)."
    echo "  see it:  DISPLAY=$DISPLAY import -window root screen.png"
    echo "  end it:  press Ctrl+C here, or run: DISPLAY=$DISPLAY $exe uninstall"
  fi
fi

if [ -n "$shot" ]; then
  # Private settings and runtime folder: a screenshot never meets the user's running instance, log or
  # configuration.
  export HOME="$scratch/home"
  export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share" XDG_RUNTIME_DIR="$scratch/run"
  mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
  mkdir -m 700 "$XDG_RUNTIME_DIR"
  "$exe" "$@" &
  app=$!
  pids+=($app)
  shown=0
  for _ in $(seq 200); do
    if xdotool search --onlyvisible --name "Corvane Connect" >/dev/null 2>&1; then shown=1; break; fi
    kill -0 "$app" 2>/dev/null || break
    sleep 0.1
  done
  if [ "$shown" -ne 1 ]; then
    echo "run.sh: the main window did not appear; no screenshot taken" >&2
    exit 1
  fi
  sleep 1.5
  import -window root "$shot"
  echo "screenshot saved to $shot"
  # A second start with "uninstall" asks the running program to close through its normal teardown.
  "$exe" uninstall >/dev/null 2>&1 || true
  for _ in $(seq 100); do
    kill -0 "$app" 2>/dev/null || break
    sleep 0.1
  done
  exit 0
fi

"$exe" "$@"
