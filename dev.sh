#!/usr/bin/env bash
# One door to the project on Debian 12:
#   ./dev.sh play   install what is missing, build, and start the game
#   ./dev.sh test   install what is missing, build, and run every test
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")"

# Debian packages, by name.
build_packages=(g++ cmake ninja-build pkg-config qt6-base-dev libgl-dev libsdl2-mixer-dev libasound2-dev)
run_packages=(qt6-qpa-plugins qt6-translations-l10n fonts-ipafont-gothic)
test_packages=(xvfb xauth x11-utils xdotool pulseaudio pulseaudio-utils clang libclang-rt-14-dev dbus-daemon at-spi2-core libxcb1-dev desktop-file-utils appstream dpkg-dev)

install_missing() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build() {
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1"
}

case "${1:-}" in
play)
    install_missing "${build_packages[@]}" "${run_packages[@]}"
    build default
    exec build/default/bin/mojitan
    ;;
test)
    install_missing "${build_packages[@]}" "${run_packages[@]}" "${test_packages[@]}"
    build default
    ctest --preset default
    ;;
*)
    echo "usage: $0 play|test" >&2
    exit 2
    ;;
esac
