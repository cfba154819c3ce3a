#!/usr/bin/env bash

# SPDX-FileCopyrightText: 2026 the モジタン developers
#
# SPDX-License-Identifier: GPL-3.0-or-later

# Renders the icon's PNG sizes from mojitan.svg (needs rsvg-convert from librsvg2-bin).
# The PNGs are kept in the repository so that building needs no SVG renderer.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 32 48 256; do
    rsvg-convert -w "$size" -h "$size" mojitan.svg -o "mojitan-$size.png"
done
