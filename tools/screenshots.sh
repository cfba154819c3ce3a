#!/usr/bin/env bash
# Takes the README's pictures of the game under a private X server: the idle window, and
# a game right after a wrong key. Usage: tools/screenshots.sh <mojitan> <output folder>
set -euo pipefail
program=$(readlink -f "$1")
out=$(readlink -f "$2")
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 640x480x24 -nolisten tcp >/dev/null 2>&1 &
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

# A fresh player: no stored score, no sound server to talk to.
XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work PULSE_SERVER=none "$program" 2>/dev/null &
window=$(xdotool search --sync --name '^モジタン$' | head -n 1)
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
sleep 0.5

shoot() { import -window "$window" "$work/shot.png" && convert "$work/shot.png" -filter point -resize 400% "$out/$1"; }
shoot idle.png
xdotool key --window "$window" Return
sleep 0.3
xdotool type --window "$window" 1 # a digit is never the letter shown
sleep 0.3
shoot wrong-key.png
echo "wrote $out/idle.png and $out/wrong-key.png"
