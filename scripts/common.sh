# SPDX-License-Identifier: Apache-2.0
# Shared by run.sh and test.sh: installs what is missing, builds the frp client and server, and
# configures and builds the program. Source it from the repository root.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${MARROWGATE_BUILD_DIR:-$ROOT/build}"
FRP_DIR="$BUILD_DIR/frp"

PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev
          fonts-noto-cjk fonts-noto-color-emoji xvfb xauth xdotool x11-utils desktop-file-utils
          libtomlplusplus-dev g++-mingw-w64-x86-64-posix dbus-daemon appstream
          qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools qt6-translations-l10n)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_packages() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if [ "${#missing[@]}" -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        as_root apt-get update
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
    fi
}

find_go() {
    if command -v go >/dev/null 2>&1; then command -v go
    elif [ -x /usr/local/go/bin/go ]; then echo /usr/local/go/bin/go
    fi
}

# How the frp client and server are built, as distributions build Go programs: position independent,
# without the symbol table and debug data, with read-only relocations bound at start (the system
# linker), reproducible (no build paths, no version-control stamp) and from the pinned modules only.
FRP_GOFLAGS=(-mod=readonly -buildmode=pie -trimpath -buildvcs=false "-ldflags=-s -w -linkmode=external -extldflags=-Wl,-z,now")

# Builds the pinned frp client and server (tools/frp) into $FRP_DIR, once for each pinned release and
# way of building: the file .buildflags beside them records the flags, so that other flags rebuild.
build_frp() {
    local version; version="$(sed -n 's/^require github.com\/fatedier\/frp v//p' "$ROOT/tools/frp/go.mod")"
    local flags="${FRP_GOFLAGS[*]}"
    if [ -x "$FRP_DIR/frpc" ] && [ -x "$FRP_DIR/frps" ] \
            && [ "$("$FRP_DIR/frpc" -v 2>/dev/null)" = "$version" ] \
            && [ "$(cat "$FRP_DIR/.buildflags" 2>/dev/null)" = "$flags" ]; then return 0; fi
    local go; go="$(find_go)"
    if [ -z "$go" ]; then
        echo "Go is not installed: the real frp client and server are not built." >&2
        return 1
    fi
    mkdir -p "$FRP_DIR"
    rm -f "$FRP_DIR/.buildflags"
    echo "Building frpc and frps $version ..."
    (cd "$ROOT/tools/frp" && CGO_ENABLED=1 GOFLAGS= GOBIN="$FRP_DIR" "$go" install "${FRP_GOFLAGS[@]}" \
        github.com/fatedier/frp/cmd/frpc github.com/fatedier/frp/cmd/frps)
    echo "$flags" > "$FRP_DIR/.buildflags"
}

configure_and_build() {
    local frpc_arg=()
    if [ -x "$FRP_DIR/frpc" ]; then frpc_arg=(-DMARROWGATE_FRPC="$FRP_DIR/frpc"); fi
    cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja "${frpc_arg[@]}" "$@"
    cmake --build "$BUILD_DIR" --parallel "$(nproc)"
}
