#!/usr/bin/env bash
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
            count > 0 && /(void [[:alnum:]_:]+|LLVMFuzzerTestOneInput|def [[:alnum:]_]+)\(/ {
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
