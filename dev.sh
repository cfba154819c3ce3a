#!/usr/bin/env bash

# SPDX-FileCopyrightText: 2026 the モジタン developers
#
# SPDX-License-Identifier: GPL-3.0-or-later

# One door to the project on Debian 12, 13 and testing:
#   ./dev.sh play   install what is missing, build, and start the game
#   ./dev.sh test   install what is missing, build, and run every test
#   ./dev.sh bench  install what is missing, build, and measure the game against its own
#                   window without the game behind it; writes bench/results.md
#   ./dev.sh format lay out every C++ and Python file as .clang-format and pyproject.toml say
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")"

# Debian packages, by name.
build_packages=(g++ cmake ninja-build pkg-config qt6-base-dev libgl-dev libpulse-dev libsndfile1-dev libsystemd-dev libwayland-dev)
run_packages=(qt6-qpa-plugins qt6-wayland qt6-translations-l10n fonts-ipafont-gothic)
# The tests play the real game on a private headless sway with XWayland (wtype types), session
# bus and sound server; the package tests need dpkg-shlibdeps, which needs `file`; the
# sanitizer tree needs clang, and llvm-symbolizer (llvm) to name the frames of a leak before
# it is held against the suppressions. The bench runs on Xvfb, through xvfb-run, which needs
# xauth.
test_packages=(xvfb xauth sway xwayland wtype dbus-daemon at-spi2-core pulseaudio
               pulseaudio-utils python3 python3-pyatspi python3-xlib clang libclang-rt-dev llvm
               dpkg-dev file desktop-file-utils appstream lintian)
format_packages=(clang-format black git reuse)

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

# Configures and builds one tree.
build() {
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1"
}

# Lays out the tracked C++ and Python files in place.
format() {
    git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format -i
    git ls-files -z '*.py' | xargs -0 black --quiet
}

# Runs one tree's workflow preset (configure, build, test) and keeps the closing line CTest
# prints for it. A tree that fails does not stop the next: every tree has its say.
summary=()
run_tree() {
    local log line start=$SECONDS
    log=$(mktemp)
    cmake --workflow --preset "$1" 2>&1 | tee "$log" || true
    line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1 || true)
    rm -f "$log"
    summary+=("$(printf '%-8s %s (%d s)' "$1:" "${line:-the build failed: no test ran}" $((SECONDS - start)))")
}

# Prints each tree's line, then one that adds them up (a tree that ran no test counts as one
# failure), and fails if anything did.
report() {
    local line passed=0 failing=0
    echo
    echo "Test summary:"
    for line in "${summary[@]}"; do
        echo "  $line"
        if [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
            failing=$((failing + BASH_REMATCH[1]))
            passed=$((passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
        else
            failing=$((failing + 1))
        fi
    done
    echo "total: $passed passed, $failing failed"
    [ "$failing" -eq 0 ]
}

case "${1:-}" in
play)
    install_missing "${build_packages[@]}" "${run_packages[@]}"
    build play # the game and its sounds alone, where a compiler's warning stays a warning
    exec build/play/bin/mojitan
    ;;
test)
    install_missing "${build_packages[@]}" "${run_packages[@]}" "${test_packages[@]}" "${format_packages[@]}"
    # The release tree, with the sources' layout and licences and the package; then every
    # test of the game again under AddressSanitizer and UndefinedBehaviorSanitizer (clang).
    run_tree default
    run_tree asan
    report
    ;;
bench)
    install_missing "${build_packages[@]}" "${run_packages[@]}" "${test_packages[@]}"
    build bench
    # Its X server is sought from :200 up, clear of the tests' from :99, so that the two can
    # run at once: xvfb-run -a is not safe against another starting at the same moment. With
    # -noreset the server does not start afresh, dropping whoever connects, when its last
    # client leaves.
    exec xvfb-run -a -n 200 -s -noreset dbus-run-session \
        /usr/bin/python3 bench/bench.py build/bench
    ;;
format)
    install_missing "${format_packages[@]}"
    format
    ;;
*)
    echo "usage: $0 play|test|bench|format" >&2
    exit 2
    ;;
esac
