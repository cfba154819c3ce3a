#!/usr/bin/env bash

# SPDX-FileCopyrightText: 2026 the モジタン developers
#
# SPDX-License-Identifier: GPL-3.0-or-later

# Takes the README's pictures of the game under a private X server: the idle window, a game
# right after a wrong key and with Caps Lock on in the desktop's default theme, then the idle window and the
# window after a whole game in GNOME's dark theme (needs qt6-gtk-platformtheme).
# Usage: tools/screenshots.sh <mojitan> <output folder>   (needs xvfb, xdotool, imagemagick)
set -euo pipefail
program=$(readlink -f "$1")
out=$(readlink -f "$2")
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 640x480x24 -nolisten tcp >/dev/null 2>&1 &
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

# Starts a fresh player's game (no stored score, no sound server) with the environment given.
start() {
    env XDG_CONFIG_HOME="$work/config-$RANDOM" XDG_RUNTIME_DIR="$work" PULSE_SERVER=none "$@" "$program" 2>/dev/null &
    window=$(xdotool search --sync --name '^モジタン$' | head -n 1)
    xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
    sleep 0.5
}
shoot() { import -window "$window" "$work/shot.png" && convert "$work/shot.png" -filter point -resize 400% "$out/$1"; }

start
shoot idle.png
xdotool key --window "$window" Return
sleep 0.3
xdotool type --window "$window" 1 # a digit is never the letter shown
sleep 0.3
shoot wrong-key.png
# With Caps Lock on every letter comes in capitals, and the one shown brings the balloon under
# it, a window of its own: the picture is taken of the screen around the game's window.
xdotool key Caps_Lock
for letter in {a..z}; do xdotool key $letter; done
xdotool key Caps_Lock
sleep 0.3
eval "$(xdotool getwindowgeometry --shell "$window")"
import -window root -crop "180x80+$X+$Y" "$work/shot.png"
convert "$work/shot.png" -filter point -resize 400% "$out/caps-lock.png"
kill %2
wait %2 || true # its window must be gone before the next is looked for

start QT_QPA_PLATFORMTHEME=gtk3 GTK_THEME=Adwaita:dark
shoot dark-idle.png
xdotool key --window "$window" Return
# Every pass of the alphabet types the letter shown at least once, so the game ends with
# the result box, the window's second.
result_box() { [ "$(xdotool search --onlyvisible --name '^モジタン$' | wc -l)" -ge 2 ]; }
until result_box; do
    for letter in {a..z}; do
        result_box && break
        xdotool type --window "$window" $letter
    done
done
sleep 0.5
xdotool key Return # closes the result box
while result_box; do sleep 0.1; done
shoot dark-after-game.png
echo "wrote idle.png, wrong-key.png, caps-lock.png, dark-idle.png and dark-after-game.png in $out"
