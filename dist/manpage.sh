#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Makes the English and Chinese manual pages of Marrowgate from dist/man/Marrowgate.1.in and the
# options the program's --help lists, or checks that the source and made pages name exactly the
# options --help lists.
#
#   manpage.sh <program> <source> <version> <date> <output dir>
#       writes <output dir>/man1/Marrowgate.1 and <output dir>/zh_CN/man1/Marrowgate.1
#   manpage.sh --check <program> <source> <page>...
set -euo pipefail

# The options of --help, one a line: "<option as written>\t<text>".
help_options() {
    "$1" --help | awk '
        function flush() { if (option != "") print option "\t" text; option = "" }
        /^Options:/ { inside = 1; next }
        !inside { next }
        /^  -/ {
            flush()
            line = substr($0, 3)
            split_at = match(line, /  +/)
            if (split_at) { option = substr(line, 1, split_at - 1); text = substr(line, split_at + RLENGTH) }
            else { option = line; text = "" }
            next
        }
        /^   / && option != "" { sub(/^ +/, ""); text = (text == "" ? $0 : text " " $0); next }
        { flush() }
        END { flush() }'
}

# The options the source gives English texts for, one a line.
source_options() {
    sed -n 's/^@option //p' "$1"
}

# The options a made page (gzipped or not) lists: the line after each ".TP" of its options section,
# back in the form --help writes them.
page_options() {
    zcat -f "$1" | awk '/^\.SH/ { inside = ($0 ~ /OPTIONS|选项/); next }
                        inside && /^\.TP/ { getline; print }' \
        | sed -e 's/\\fI\([^\\]*\)\\fR/<\1>/g' -e 's/\\f[BIR]//g' -e 's/\\-/-/g'
}

if [ "${1:-}" = --check ]; then
    program="$2" source="$3"
    shift 3
    expected="$(help_options "$program" | cut -f1 | sort)"
    [ -n "$expected" ] || { echo "$program --help lists no options" >&2; exit 1; }
    status=0
    compare() {
        local what="$1" actual="$2"
        if [ "$actual" != "$expected" ]; then
            echo "The options of $what differ from $program --help (< --help, > $what):" >&2
            diff <(echo "$expected") <(echo "$actual") >&2 || true
            status=1
        fi
    }
    compare "$source" "$(source_options "$source" | sort)"
    for page in "$@"; do
        compare "$page" "$(page_options "$page" | sort)"
    done
    [ "$status" -ne 0 ] || echo "The manual pages and --help name the same options."
    exit "$status"
fi

program="$1" source="$2" version="$3" date="$4" output="$5"
options="$(mktemp)"
trap 'rm -f "$options"' EXIT
help_options "$program" > "$options"

# $1: en or zh. Options missing from the source get the --help text in both pages (the check fails).
make_page() {
    awk -v lang="$1" -v version="$version" -v date="$date" -v options="$options" '
        function roff_text(s) {
            gsub(/\\/, "\\e", s)
            gsub(/--/, "\\-\\-", s)
            if (s ~ /^[.'"'"']/) s = "\\&" s
            return s
        }
        # "-h, --help" and "--port <port>" as bold names and italic values.
        function roff_option(s,    n, parts, i, out, name, value) {
            n = split(s, parts, ", ")
            for (i = 1; i <= n; i++) {
                name = parts[i]; value = ""
                if (match(name, / <.*>$/)) {
                    value = substr(name, RSTART + 2, RLENGTH - 3)
                    name = substr(name, 1, RSTART - 1)
                }
                gsub(/-/, "\\-", name)
                out = out (i > 1 ? ", " : "") "\\fB" name "\\fR" (value != "" ? " \\fI" value "\\fR" : "")
            }
            return out
        }
        BEGIN {
            while ((getline line < options) > 0) {
                tab = index(line, "\t")
                count++
                order[count] = substr(line, 1, tab - 1)
                help[order[count]] = substr(line, tab + 1)
            }
        }
        /^#/ { next }
        /^@options$/ { inside = 1; next }
        /^@option / { current = substr($0, 9); english[current] = ""; next }
        /^@end$/ {
            for (i = 1; i <= count; i++) {
                o = order[i]
                print ".TP"
                print roff_option(o)
                if (lang == "en" && o in english) printf "%s", english[o]
                else print roff_text(help[o])
            }
            inside = 0
            next
        }
        inside { english[current] = english[current] $0 "\n"; next }
        /^en\|/ { if (lang == "en") print substr($0, 4); next }
        /^zh\|/ { if (lang == "zh") print substr($0, 4); next }
        { gsub(/@VERSION@/, version); gsub(/@DATE@/, date); print }
    ' "$source"
}

mkdir -p "$output/man1" "$output/zh_CN/man1"
make_page en > "$output/man1/Marrowgate.1"
make_page zh > "$output/zh_CN/man1/Marrowgate.1"
