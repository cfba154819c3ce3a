#!/usr/bin/env bash

# SPDX-FileCopyrightText: 2026 the モジタン developers
#
# SPDX-License-Identifier: GPL-3.0-or-later

# Writes docs/robustness.md from the "robustness:" notes that stand right above the tests
# that prove them, so the table can only list what a test actually tries.
#   tools/robustness-table.sh           rewrite docs/robustness.md
#   tools/robustness-table.sh --check   fail when docs/robustness.md is out of date
# A note reads:  // robustness: <bad input or fault> | <what the game does> | <what is kept>
# (# instead of // in Python), and goes on over the comment lines right below it; an empty
# comment line ends it. The notes above a test, or among the rows of its table, belong
# to the next test function that follows them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target=$root/docs/robustness.md

generate() {
    cat <<'HEAD'
# Bad input and faults

Every row is something the tests do to the game, and the test that proves it; a row exists
only because a test carries it (`tools/robustness-table.sh` writes this file from those
tests, and a test fails when the file is out of date).

| Bad input or fault | What the game does | What is kept | Proved by |
|---|---|---|---|
HEAD
    (cd "$root" && find tests -name '*.cpp' -o -name '*.py' | LC_ALL=C sort) | while read -r file; do
        awk -v file="$file" '
            /^[[:space:]]*(\/\/|#) robustness:/ {
                sub(/^[[:space:]]*(\/\/|#) robustness:[[:space:]]*/, "")
                notes[++count] = $0
                open = 1
                next
            }
            open && /^[[:space:]]*(\/\/|#) [^[:space:]]/ {
                sub(/^[[:space:]]*(\/\/|#)[[:space:]]*/, "")
                notes[count] = notes[count] " " $0
                next
            }
            { open = 0 }
            count > 0 && /(void [[:alnum:]_:]+|def [[:alnum:]_]+)\(/ {
                name = $0
                sub(/^[^(]*[[:space:]]/, "", name)
                sub(/\(.*/, "", name)
                if (name ~ /_data$/)
                    sub(/_data$/, "", name)
                for (i = 1; i <= count; ++i) {
                    n = split(notes[i], cell, /[[:space:]]*\|[[:space:]]*/)
                    if (n != 3) {
                        printf "%s: a robustness note needs three cells: %s\n", file, notes[i] > "/dev/stderr"
                        exit 1
                    }
                    printf "| %s | %s | %s | `%s` `%s` |\n", cell[1], cell[2], cell[3], file, name
                }
                count = 0
            }
        ' "$root/$file"
    done
    cat <<'TAIL'

## Rows no longer tried, and why

- **Any bytes as the stored best time** (a fuzz target, 20 seconds in every run). The inputs
  it kept as seeds (a whole number, a decimal with spaces around it, 1e39) are rows above, as
  is every other way the parser can refuse a text: empty, letters, NaN, infinite, negative,
  zero, binary. No run since those rows came found anything beyond them.
- **A link to a folder, or a broken link, where the settings file should be.** The store
  takes a link for what it points to, so these take the folder's path and the missing file's.
- **A read-only settings file.** The save stops before it reaches the file, exactly as in a
  read-only folder; the folder and the full disk are the rows that would catch a save made
  in place.
- **A settings file holding a list.** A list reads as no number even without the check that
  refuses typed values; the typed-value row is the one that catches that check missing.
- **Loading never writes the file.** Nothing in the game writes while loading; what a row
  keeps is read back after its game instead.
TAIL
}

if [ "${1:-}" = "--check" ]; then
    if ! diff -u "$target" <(generate); then
        echo "docs/robustness.md is out of date: run tools/robustness-table.sh" >&2
        exit 1
    fi
    echo "docs/robustness.md matches the tests"
else
    generate > "$target"
    echo "wrote $target"
fi
