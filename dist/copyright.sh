#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Writes the package's copyright file in the machine-readable format: the program's own files and,
# when an frpc is bundled, frp and every Go module compiled into it with the licence its source in
# the Go module cache carries. The modules are read from the client's build information and each
# must be the one tools/frp/go.sum pins (same version, same hash); a module missing from the cache is
# downloaded into it.
#
#   copyright.sh <output> <source dir> [<frpc> <go>]
set -euo pipefail

output="$1"
source_dir="$2"
frpc="${3:-}"
go="${4:-}"
common_licenses=/usr/share/common-licenses
contact="Marrowgate developers <marrowgate@users.noreply.github.com>"
year=2026

die() {
    echo "copyright.sh: $*" >&2
    exit 1
}

# A text as the continuation lines of a field: each line indented by one space, runs of empty lines
# as one " ." between paragraphs.
as_field_text() {
    tr -d '\r' | sed 's/[[:space:]]*$//' | cat -s | sed '/./,$!d' | sed -e :a -e '/^\n*$/{$d;N;ba' -e '}' \
        | sed -e 's/^$/./' -e 's/^/ /'
}

# The words of a licence text up to the end of its terms, for comparing two copies: not every copy
# has the closing line or the letters that number the conditions.
terms_words() {
    tr -d '\r' | sed '/END OF TERMS AND CONDITIONS/,$d' | tr -s '[:space:]' '\n' | grep -vxE '(\([a-z]\))?' \
        | paste -sd' '
}

# The short name of the licence in a file; fails on a text it does not know.
licence_name() {
    local file="$1"
    if grep -q 'Apache License' "$file" && grep -qE 'Version 2\.0' "$file"; then echo Apache-2.0
    elif grep -qi 'Mozilla Public License,* version 2\.0' "$file"; then echo MPL-2.0
    elif grep -q 'Permission is hereby granted, free of charge' "$file"; then echo Expat
    elif grep -q 'Redistribution and use in source and binary forms' "$file"; then
        if tr -s '[:space:]' ' ' < "$file" | grep -qiE 'neither the name|names of (its|their) contributors'; then
            echo BSD-3-clause
        else
            echo BSD-2-clause
        fi
    elif grep -q 'Permission to use, copy, modify, and/or distribute' "$file"; then echo ISC
    else
        return 1
    fi
}

# Splits a licence file holding the Apache License's full text into the text before it, its terms,
# and the text after them (without the appendix on how to apply the licence), as the files before,
# terms and after in the folder $work.
split_apache() {
    rm -f "$work/before" "$work/terms" "$work/after"
    touch "$work/before" "$work/terms" "$work/after"
    tr -d '\r' < "$1" | awk -v dir="$work" '
        part == "" && /^[[:space:]]*Apache License[[:space:]]*$/ { part = "terms" }
        part == "terms" && /END OF TERMS AND CONDITIONS/ { part = "after"; next }
        part == "after" && /APPENDIX: How to apply the Apache License/ { part = "appendix" }
        part == "appendix" { if (/limitations under the License\./) part = "after"; next }
        { print > (dir "/" (part == "" ? "before" : part)) }'
}

# Whether a file holds more than white space.
has_text() {
    grep -q '[^[:space:]]' "$1"
}

# The copyright notices in the given files, without the word "Copyright" and the sign.
notices() {
    cat "$@" | tr -d '\r' \
        | grep -E '^[[:space:]]*Copyright[[:space:]]*(\([cC]\)|©)?[[:space:]]*[0-9]' \
        | sed -E 's/^[[:space:]]*Copyright[[:space:]]*(\([cC]\)|©)?[[:space:]]*//; s/[[:space:]]+$//' \
        | sort -u || true
}

# One paragraph for a body of source: its files (a pattern), the folder holding its licence files,
# and a comment.
source_paragraph() {
    local files="$1" dir="$2" comment="$3"
    local licence_files=() notice_files=() extra_files=() names=() f name
    for f in "$dir"/*; do
        [ -f "$f" ] || continue
        case "$(basename "$f" | tr '[:upper:]' '[:lower:]')" in
            license|license.*|licence|licence.*|copying|copying.*) licence_files+=("$f") ;;
            notice|notice.*) notice_files+=("$f") ;;
            patents) extra_files+=("$f") ;;
        esac
    done
    [ "${#licence_files[@]}" -gt 0 ] || die "no licence file in $dir"

    # The licences' texts, as the continuation of the License field; the Apache License's and the
    # Mozilla Public License's usual texts are referred to (see their paragraphs at the end).
    local text="$work/text"
    : > "$text"
    for f in "${licence_files[@]}"; do
        name="$(licence_name "$f")" || die "unknown licence in $f"
        names+=("$name")
        if [ -s "$text" ]; then echo " ." >> "$text"; fi
        if [ "$name" = Apache-2.0 ] && grep -q 'TERMS AND CONDITIONS FOR USE' "$f"; then
            split_apache "$f"
            [ "$(terms_words < "$work/terms")" = "$(terms_words < "$common_licenses/Apache-2.0")" ] \
                || die "$f differs from the Apache License 2.0"
            if has_text "$work/before"; then as_field_text < "$work/before" >> "$text"; echo " ." >> "$text"; fi
            echo " $(basename "$f"): the Apache License 2.0, see below." >> "$text"
            if has_text "$work/after"; then
                name="$(licence_name "$work/after")" || die "unknown licence after the Apache License in $f"
                names+=("$name")
                echo " ." >> "$text"
                as_field_text < "$work/after" >> "$text"
            fi
        elif [ -f "$common_licenses/$name" ] \
                && [ "$(terms_words < "$f")" = "$(terms_words < "$common_licenses/$name")" ]; then
            echo " $(basename "$f"): the $name text, see below." >> "$text"
            referred+=("$name")
        else
            as_field_text < "$f" >> "$text"
        fi
    done

    local holders; holders="$(notices "${licence_files[@]}" "${notice_files[@]}")"
    [ -n "$holders" ] || holders="the authors of ${files%/\*}"
    echo
    echo "Files: $files"
    echo "Copyright: $(head -n1 <<<"$holders")"
    tail -n +2 <<<"$holders" | sed 's/^/ /'
    echo "License: $(printf '%s\n' "${names[@]}" | sort -u | paste -sd' ' | sed 's/ / and /g')"
    cat "$text"
    for f in "${extra_files[@]}" "${notice_files[@]}"; do
        echo " ."
        echo " $(basename "$f"):"
        as_field_text < "$f"
    done
    if [ -n "$comment" ]; then echo "Comment: $comment"; fi
}

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
referred=(Apache-2.0)
{
    echo "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"
    echo "Upstream-Name: Marrowgate"
    echo "Upstream-Contact: $contact"
    echo "Source: https://github.com/marrowgate/marrowgate"
    echo
    echo "Files: *"
    echo "Copyright: $year Marrowgate developers"
    echo "License: Apache-2.0"
    echo
    echo "Files: usr/share/icons/*"
    echo "Copyright: $year Marrowgate developers"
    echo "License: Apache-2.0"
    echo "Comment: Drawn from a few vector shapes by resources/make_icons.py of the source."

    if [ -n "$frpc" ]; then
        [ -n "$go" ] || die "Go is needed to read the modules compiled into $frpc"
        info="$("$go" version -m "$frpc")" || die "$frpc carries no Go build information"
        sum="$source_dir/tools/frp/go.sum"
        cache="$("$go" env GOMODCACHE)"
        toolchain="$(head -n1 <<<"$info" | sed 's/.*: //')"
        frp_version="$(awk '$1 == "mod" && $2 == "github.com/fatedier/frp" { print $3 }' <<<"$info")"
        [ -n "$frp_version" ] || die "$frpc is not the frp client"
        echo
        echo "Files: usr/bin/frpc"
        echo "Copyright: the frp authors and the authors of the modules below"
        echo "License: Apache-2.0"
        echo "Comment: The client of frp ${frp_version#v}, built with $toolchain from the Go modules that"
        echo " tools/frp/go.sum of the source pins. It is compiled from the Go runtime and standard"
        echo " library and from the modules the following paragraphs name by module path; each"
        echo " paragraph gives that module's licence."
        source_paragraph "go/*" "$("$go" env GOROOT)" "The Go runtime and standard library, $toolchain."
        while read -r kind path version hash; do
            [ "$kind" = mod ] || [ "$kind" = dep ] || continue
            grep -qxF "$path $version $hash" "$sum" \
                || die "$path $version ($hash) in $frpc is not pinned by $sum"
            dir="$cache/$(sed 's/[A-Z]/!\L&/g' <<<"$path")@$version"
            if [ ! -d "$dir" ]; then
                (cd "$source_dir/tools/frp" && "$go" mod download "$path@$version") \
                    || die "cannot download $path@$version"
            fi
            source_paragraph "$path/*" "$dir" "Go module $path $version."
        done <<<"$info"
    fi

    # The licences kept in the system's common-licenses folder, referred to instead of repeated.
    for name in $(printf '%s\n' "${referred[@]}" | sort -u); do
        echo
        echo "License: $name"
        case "$name" in
            Apache-2.0)
                echo " Licensed under the Apache License, Version 2.0 (the \"License\"); you may not use"
                echo " these files except in compliance with the License."
                ;;
            MPL-2.0)
                echo " This Source Code Form is subject to the terms of the Mozilla Public License,"
                echo " v. 2.0."
                ;;
        esac
        echo " ."
        echo " On Debian systems, the complete text of this licence can be found in"
        echo " \"$common_licenses/$name\"."
    done
} > "$output.tmp"
mv "$output.tmp" "$output"
