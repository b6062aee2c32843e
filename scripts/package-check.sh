#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Checks the Debian package on a clean system: builds it, bootstraps a minimal Debian 12 into a
# temporary folder, installs the package there with apt (which pulls its dependencies and the fonts it
# recommends), runs `Marrowgate --version`, shows the window under Xvfb as an ordinary user and takes a
# screenshot, ends the program with SIGTERM, purges the package and checks that none of its files is
# left, and runs lintian (no error, no warning without an override in dist/lintian-overrides).
#
#   scripts/package-check.sh [--screenshot <file.png>]
#
# Exits with 0 when the package passed, 1 when it did not, and 77 when the check could not run here
# (not root and no sudo, no network, a download failed, the system refused a mount): only a fault of
# the package gives 1. It needs the network (the Debian archive the system's apt sources name, or
# MARROWGATE_DEBIAN_MIRROR) and root, installs debootstrap, lintian and netpbm with apt when missing,
# and keeps the downloaded packages in MARROWGATE_PACKAGE_CACHE when that names a folder.
source "$(dirname "$0")/common.sh"
# Failures are sorted by hand below: only a fault of the package may end the check with 1.
set +eu

SKIPPED=77
screenshot=""
if [ "${1:-}" = --screenshot ]; then screenshot="$(realpath -m "$2")"; fi
suite=bookworm
user=checker
faults=()
root_dir=""
xvfb_pid=""
program_pid=""

step() { echo "== $(date -u +%H:%M:%S) $*"; }
fault() { echo "FAULT: $*" >&2; faults+=("$*"); }
skip() {
    echo "package check skipped: $*" >&2
    exit "$SKIPPED"
}

# Ends what runs in the system, unmounts it and removes it; the folder is removed only once nothing is
# mounted below it.
cleanup() {
    local status=$?
    trap - ERR
    set +e
    if [ -n "$root_dir" ]; then
        [ -z "$program_pid" ] || kill -KILL "$program_pid" 2>/dev/null
        [ -z "$xvfb_pid" ] || kill -TERM "$xvfb_pid" 2>/dev/null
        local link pid
        for link in /proc/[0-9]*/root; do
            if [ "$(readlink "$link" 2>/dev/null)" = "$root_dir" ]; then
                pid="${link#/proc/}"; pid="${pid%/root}"
                kill -KILL "$pid" 2>/dev/null
            fi
        done
        sleep 1
        local mount_point
        for mount_point in $(awk -v r="$root_dir" 'index($2, r "/") == 1 { print $2 }' /proc/mounts | sort -r); do
            as_root umount -R "$mount_point" 2>/dev/null || as_root umount -l "$mount_point"
        done
        if awk -v r="$root_dir" 'index($2, r "/") == 1 { found = 1 } END { exit !found }' /proc/mounts; then
            echo "Still mounted below $root_dir; left in place." >&2
        else
            as_root rm -rf --one-file-system "$root_dir"
        fi
    fi
    exit "$status"
}
trap cleanup EXIT
# Interrupted (a time limit, Ctrl+C), it cleans up and counts as not run.
trap 'exit $SKIPPED' TERM INT HUP
# Anything that fails without being a fault of the package means the check could not run.
trap 'exit $SKIPPED' ERR
set -E

in_root() { as_root chroot "$root_dir" "$@"; }
# apt-get in the system, within <seconds>.
apt_in_root() {
    as_root timeout "$1" chroot "$root_dir" env DEBIAN_FRONTEND=noninteractive apt-get -q "${@:2}"
}
# The command line that runs a command in the system as the user; processes started in the
# background with it keep their id through every exec, so that they can be signalled.
user_command() {
    user_cmd=()
    if [ "$(id -u)" -ne 0 ]; then user_cmd=(sudo); fi
    user_cmd+=(chroot --userspec="$uid:$gid" "$root_dir" env -i HOME="/home/$user" USER="$user"
               LANG=C.UTF-8 PATH=/usr/bin:/bin XDG_RUNTIME_DIR="/tmp/runtime-$user")
}
as_user() { "${user_cmd[@]}" "$@"; }

step "Tools"
if [ "$(id -u)" -ne 0 ] && ! sudo -n true 2>/dev/null; then skip "needs root or sudo without a password"; fi
tools=()
command -v debootstrap >/dev/null || [ -x /usr/sbin/debootstrap ] || tools+=(debootstrap)
command -v lintian >/dev/null || tools+=(lintian)
command -v xwdtopnm >/dev/null || tools+=(netpbm)
if [ "${#tools[@]}" -gt 0 ]; then
    { as_root apt-get update -q && as_root env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -q --no-install-recommends "${tools[@]}"; } >/dev/null \
        || skip "cannot install ${tools[*]}"
fi

# The archive the system's own apt sources use.
mirror="${MARROWGATE_DEBIAN_MIRROR:-}"
if [ -z "$mirror" ]; then
    mirror="$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null \
        | awk '/^URIs:/ && $2 !~ /security/ { print $2; exit }')"
fi
if [ -z "$mirror" ]; then
    mirror="$(awk '$1 == "deb" && $2 !~ /security/ && $2 ~ /^https?:/ { print $2; exit }' \
        /etc/apt/sources.list 2>/dev/null)"
fi
mirror="${mirror:-http://deb.debian.org/debian}"
host="$(sed -E 's|^[a-z]+://([^/:]+).*|\1|' <<<"$mirror")"
port=80
case "$mirror" in https:*) port=443 ;; esac
timeout 15 bash -c "exec 3<>/dev/tcp/$host/$port" 2>/dev/null || skip "no connection to $mirror"

step "Building the package"
build_frp || skip "the frp client cannot be built"
configure_and_build >/dev/null || fault "the program does not build"
[ "${#faults[@]}" -eq 0 ] || exit 1
rm -f "$BUILD_DIR"/marrowgate_*.deb
cmake --build "$BUILD_DIR" --target package >/dev/null || { fault "cmake --build --target package fails"; exit 1; }
deb="$(ls "$BUILD_DIR"/marrowgate_*.deb)"
echo "$deb"

step "lintian"
lintian --fail-on error,warning "$deb" || fault "lintian reports an error or a warning without an override"
lintian --display-info --show-overrides "$deb" || true

step "Bootstrapping a minimal Debian 12 from $mirror"
root_dir="$(mktemp -d /var/tmp/marrowgate-package-check.XXXXXX)"
chmod 755 "$root_dir"
cache_args=()
cache="${MARROWGATE_PACKAGE_CACHE:-}"
if [ -n "$cache" ]; then
    mkdir -p "$cache/debootstrap" "$cache/apt"
    cache_args=(--cache-dir="$(realpath "$cache/debootstrap")")
fi
as_root timeout 1800 debootstrap --variant=minbase "${cache_args[@]}" "$suite" "$root_dir" "$mirror" \
    > "$root_dir.debootstrap.log" 2>&1 || { tail -n 20 "$root_dir.debootstrap.log" >&2; skip "debootstrap failed"; }
rm -f "$root_dir.debootstrap.log"
as_root mount -t proc proc "$root_dir/proc" || skip "cannot mount /proc"
as_root mount -t sysfs sysfs "$root_dir/sys" || skip "cannot mount /sys"
as_root mount --rbind /dev "$root_dir/dev" && as_root mount --make-rslave "$root_dir/dev" || skip "cannot mount /dev"
if [ -n "$cache" ]; then as_root mount --bind "$(realpath "$cache/apt")" "$root_dir/var/cache/apt/archives"; fi
as_root cp /etc/resolv.conf "$root_dir/etc/resolv.conf"
# No service starts inside.
printf '#!/bin/sh\nexit 101\n' | as_root tee "$root_dir/usr/sbin/policy-rc.d" >/dev/null
as_root chmod 755 "$root_dir/usr/sbin/policy-rc.d"
echo "$(in_root dpkg-query -W -f='${Package}\n' | wc -l) packages in the bootstrapped system"

step "Installing the package with apt"
as_root cp "$deb" "$root_dir/tmp/"
package="/tmp/$(basename "$deb")"
apt_in_root 600 update >/dev/null || skip "apt-get update failed"
apt_in_root 1800 install -y --download-only "$package" >/dev/null || skip "downloading the dependencies failed"
before="$(in_root dpkg-query -W -f='${Package}\n' | wc -l)"
if apt_in_root 1800 install -y "$package" > "$root_dir/tmp/install.log" 2>&1; then
    after="$(in_root dpkg-query -W -f='${Package}\n' | wc -l)"
    echo "installed with $((after - before - 1)) packages it pulled"
else
    tail -n 30 "$root_dir/tmp/install.log" >&2
    fault "apt cannot install the package"
    exit 1
fi
mapfile -t package_files < <(in_root dpkg-query -L marrowgate)

step "Marrowgate --version"
in_root useradd -m "$user"
uid="$(in_root id -u "$user")"
gid="$(in_root id -g "$user")"
user_command
version="$(as_user Marrowgate --version)" || fault "Marrowgate --version fails"
echo "$version"
[ "$version" = "Marrowgate $(sed -n 's/^project(Marrowgate VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")" ] \
    || fault "Marrowgate --version answers '$version'"

step "The window under Xvfb, as the user $user"
apt_in_root 900 install -y --no-install-recommends xvfb xauth >/dev/null || skip "cannot install Xvfb"
as_root install -d -m 700 -o "$uid" -g "$gid" \
    "$root_dir/tmp/runtime-$user" "$root_dir/tmp/screen"
# Xvfb picks a free display and keeps its screen as an image file, read from outside.
"${user_cmd[@]}" Xvfb -displayfd 1 -nolisten tcp -br -screen 0 1024x768x24 -fbdir /tmp/screen \
    > "$root_dir/tmp/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 50); do [ -s "$root_dir/tmp/display" ] && break; sleep 0.2; done
display="$(head -n1 "$root_dir/tmp/display")"
[ -n "$display" ] || skip "Xvfb does not start"
"${user_cmd[@]}" DISPLAY=":$display" Marrowgate > "$root_dir/tmp/program.log" 2>&1 &
program_pid=$!
frame="$root_dir/tmp/screen/Xvfb_screen0"
colours=0
for _ in $(seq 60); do
    sleep 1
    kill -0 "$program_pid" 2>/dev/null || break
    colours="$(as_root cat "$frame" | xwdtopnm 2>/dev/null | ppmhist -noheader 2>/dev/null | wc -l)" || colours=0
    [ "$colours" -lt 32 ] || break
done
sleep 2
if [ -n "$screenshot" ]; then
    mkdir -p "$(dirname "$screenshot")"
    as_root cat "$frame" | xwdtopnm 2>/dev/null | pnmtopng > "$screenshot" 2>/dev/null \
        && echo "screenshot: $screenshot" || echo "no screenshot" >&2
fi
if ! kill -0 "$program_pid" 2>/dev/null; then
    cat "$root_dir/tmp/program.log" >&2
    fault "the program ended instead of showing its window"
elif [ "$colours" -lt 32 ]; then
    cat "$root_dir/tmp/program.log" >&2
    fault "no window drawn within 60 s"
else
    echo "window drawn ($colours colours on the screen)"
    # The program ends in order on SIGTERM, with code 0.
    kill -TERM "$program_pid"
    code=""
    for _ in $(seq 20); do
        if ! kill -0 "$program_pid" 2>/dev/null; then wait "$program_pid" && code=0 || code=$?; break; fi
        sleep 0.5
    done
    [ "$code" = 0 ] || fault "the program did not end with 0 on SIGTERM (${code:-still running})"
fi
program_pid=""
kill -TERM "$xvfb_pid" 2>/dev/null || true
wait "$xvfb_pid" 2>/dev/null || true
xvfb_pid=""

step "apt purge"
apt_in_root 600 purge -y marrowgate >/dev/null || fault "apt cannot purge the package"
if in_root dpkg-query -W -f='${Status}' marrowgate 2>/dev/null | grep -q .; then
    fault "dpkg still knows the package: $(in_root dpkg-query -W -f='${Status}' marrowgate)"
fi
left=0
for path in "${package_files[@]}"; do
    [ "$path" != /. ] || continue
    if as_root test -e "$root_dir$path" -o -L "$root_dir$path" && ! in_root dpkg-query -S "$path" >/dev/null 2>&1; then
        echo "left behind: $path" >&2
        left=$((left + 1))
    fi
done
[ "$left" -eq 0 ] || fault "$left files of the package are left after the purge"
echo "${#package_files[@]} paths of the package checked"

if [ "${#faults[@]}" -gt 0 ]; then
    printf 'package check FAILED:\n' >&2
    printf '  %s\n' "${faults[@]}" >&2
    exit 1
fi
echo "package check passed"
