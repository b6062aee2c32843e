#!/usr/bin/env bash
# Installs what is missing, builds the program with the frp client beside it and runs it.
source "$(dirname "$0")/common.sh"

install_packages
build_frp || echo "Continuing without frpc: connecting will report that the client is missing." >&2
configure_and_build
exec "$BUILD_DIR/bin/Marrowgate" "$@"
