#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Writes the Debian changelog of the package from the project's CHANGELOG.md: each section
# "## <version> (<yyyy-mm-dd>)" becomes an entry for <version>-<revision>, each "- " item a "*" item,
# wrapped within 80 columns.
#
#   changelog.sh <CHANGELOG.md> <package> <revision> <maintainer> <output>
set -euo pipefail

changelog="$1" package="$2" revision="$3" maintainer="$4" output="$5"

awk -v package="$package" -v revision="$revision" -v maintainer="$maintainer" '
    function flush_item(    n, words, i, line) {
        if (item == "") return
        n = split(item, words, " ")
        line = "  *"
        for (i = 1; i <= n; i++) {
            if (length(line) + 1 + length(words[i]) > 80) { print line; line = "   " }
            line = line " " words[i]
        }
        print line
        item = ""
    }
    function close_entry() {
        flush_item()
        if (version == "") return
        cmd = "LC_ALL=C date -u -R -d \"" day " 00:00:00 UTC\""
        cmd | getline stamp
        close(cmd)
        print ""
        print " -- " maintainer "  " stamp
        version = ""
    }
    /^## / {
        close_entry()
        if (!match($0, /^## [^ ]+ \([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]\)$/)) {
            print "changelog.sh: bad section line: " $0 > "/dev/stderr"
            exit 1
        }
        version = $2
        day = substr($3, 2, 10)
        if (entries++) print ""
        print package " (" version "-" revision ") unstable; urgency=medium"
        print ""
        next
    }
    version != "" && /^- / { flush_item(); item = substr($0, 3); next }
    version != "" && item != "" && /^  [^ ]/ { item = item " " substr($0, 3); next }
    version != "" && item != "" { flush_item() }
    END { close_entry(); if (!entries) { print "changelog.sh: no release in the changelog" > "/dev/stderr"; exit 1 } }
' "$changelog" | sed 's/`//g' > "$output.tmp"
mv "$output.tmp" "$output"
