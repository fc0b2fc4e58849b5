#!/bin/bash
# The option tables of docs/kivrun.md and of kivrun's manual page, made from
# `kivrun --help`, which kivrun writes from its own option table: the three
# cannot drift apart. Each table is the text between its two marker lines.
#   option-tables.sh KIVRUN REFERENCE MANPAGE           rewrite both tables
#   option-tables.sh --check KIVRUN REFERENCE MANPAGE   fail, showing the
#                                                    difference, when either
#                                                    is not what KIVRUN says
set -eu

check=no
if [ "${1:-}" = --check ]; then
    check=yes
    shift
fi
if [ $# -ne 3 ]; then
    echo "Usage: $0 [--check] KIVRUN REFERENCE MANPAGE" >&2
    exit 2
fi
kivrun=$1 reference=$2 manpage=$3

reference_start='<!-- options: made from kivrun --help by tools/option-tables.sh -->'
reference_end='<!-- end of options -->'
man_start='.\" options: made from kivrun --help by tools/option-tables.sh'
man_end='.\" end of options'

# One line per option: its spelling, a tab, its help joined into one line.
options() {
    "$kivrun" --help | awk '
        /^Options:$/ { inside = 1; next }
        inside && /^$/ { exit }
        !inside { next }
        # An option starts 2 columns in, or 6 when it has no letter; a
        # wrapped help line may start with a dash too, but further in.
        /^  (    )?-/ {
            if (spelling != "") print spelling "\t" help
            line = $0
            sub(/^ +/, "", line)
            split_at = match(line, /  +/)
            spelling = substr(line, 1, split_at - 1)
            help = substr(line, split_at + RLENGTH)
            next
        }
        { text = $0; sub(/^ +/, "", text); help = help " " text }
        END { if (spelling != "") print spelling "\t" help }'
}

markdown_rows() {
    echo '| option | effect |'
    echo '|---|---|'
    options | while IFS=$'\t' read -r spelling help; do
        printf '| `%s` | %s |\n' "$spelling" "${help//|/\\|}"
    done
}

# roff: a hyphen as \-, a backslash as \e; the spelling bold, its value
# italic.
roff() { sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e 's/^\./\\\&./'; }
man_entries() {
    options | while IFS=$'\t' read -r spelling help; do
        echo .TP
        roff <<< "$spelling" | sed -E 's/^(.*\\-\\-[a-z\\-]+)(\[?=?| )?(.*)$/\\fB\1\\fR\2\\fI\3\\fR/'
        roff <<< "$help"
    done
}

# FILE with the lines between START and END (both kept) replaced by the
# output of GENERATOR.
replaced() {
    local file=$1 start=$2 end=$3 generator=$4
    grep -qxF -- "$start" "$file" && grep -qxF -- "$end" "$file" ||
        { echo "$0: $file lacks the marker lines '$start' and '$end'" >&2; exit 2; }
    # Through the environment: awk -v would read escapes in roff's text.
    BODY=$($generator) START=$start END=$end awk '
        $0 == ENVIRON["START"] { print; print ENVIRON["BODY"]; skipping = 1; next }
        $0 == ENVIRON["END"] { skipping = 0 }
        !skipping { print }' "$file"
}

status=0
for target in "$reference|$reference_start|$reference_end|markdown_rows" "$manpage|$man_start|$man_end|man_entries"; do
    IFS='|' read -r file start end generator <<< "$target"
    made=$(replaced "$file" "$start" "$end" "$generator")
    if [ "$check" = yes ]; then
        if ! diff -u "$file" - <<< "$made"; then
            echo "$file: its option table is not what $kivrun --help says; run tools/option-tables.sh" >&2
            status=1
        fi
    else
        printf '%s\n' "$made" > "$file"
    fi
done
exit "$status"
