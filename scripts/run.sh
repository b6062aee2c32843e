#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs what is missing, builds the program with the frp client beside it and runs it.
# In the default build the built-in server entry points at 127.0.0.1:7000: when nothing listens
# there yet, a local frps is started for it (and stopped again when the program exits), so that
# the built-in entry makes a real tunnel right away.
source "$(dirname "$0")/common.sh"

install_packages
build_frp || echo "Continuing without frpc: connecting will report that the client is missing." >&2
configure_and_build

builtin_addr="$(sed -n 's/^MARROWGATE_BUILTIN_SERVER_ADDR:STRING=//p' "$BUILD_DIR/CMakeCache.txt")"
frps_pid=""
if [ "$builtin_addr" = "127.0.0.1" ] && [ -x "$FRP_DIR/frps" ] \
        && ! (exec 3<>/dev/tcp/127.0.0.1/7000) 2>/dev/null; then
    frps_dir="$(mktemp -d)"
    cat > "$frps_dir/frps.toml" <<'TOML'
bindAddr = "127.0.0.1"
bindPort = 7000
proxyBindAddr = "127.0.0.1"
auth.token = "tQenvobRxaL"
TOML
    "$FRP_DIR/frps" -c "$frps_dir/frps.toml" > "$frps_dir/frps.log" 2>&1 &
    frps_pid=$!
    echo "Started a local frps for the built-in server entry (log: $frps_dir/frps.log)."
    trap 'kill "$frps_pid" 2>/dev/null; wait "$frps_pid" 2>/dev/null; rm -rf "$frps_dir"' EXIT
fi

status=0
"$BUILD_DIR/bin/Marrowgate" "$@" || status=$?
exit "$status"
