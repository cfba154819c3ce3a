#!/usr/bin/env bash
# Writes docs/robustness.md from the "robustness:" notes that stand right above the tests
# that prove them, so the table can only list what a test actually tries.
#   tools/robustness-table.sh           rewrite docs/robustness.md
#   tools/robustness-table.sh --check   fail when docs/robustness.md is out of date
# A note reads:  // robustness: <bad input or fault> | <what the game does> | <what is kept>
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
    (cd "$root" && find tests -name '*.cpp' | LC_ALL=C sort) | while read -r file; do
        awk -v file="$file" '
            /^[[:space:]]*\/\/ robustness:/ {
                sub(/^[[:space:]]*\/\/ robustness:[[:space:]]*/, "")
                note = $0
                next
            }
            note != "" && /(void [[:alnum:]_:]+|LLVMFuzzerTestOneInput)\(/ {
                name = $0
                sub(/^[^(]*[[:space:]]/, "", name)
                sub(/\(.*/, "", name)
                n = split(note, cell, /[[:space:]]*\|[[:space:]]*/)
                if (n != 3) {
                    printf "%s: a robustness note needs three cells: %s\n", file, note > "/dev/stderr"
                    exit 1
                }
                printf "| %s | %s | %s | `%s` `%s` |\n", cell[1], cell[2], cell[3], file, name
                note = ""
            }
        ' "$root/$file"
    done
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
