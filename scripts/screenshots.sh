#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Takes the README's screenshots under a virtual X server: the main window in the light and the dark
# theme with a few servers, the connected state with the address, the port and the copy buttons, the
# warning of a public port that cannot be reached above cards with their round trips, the edit
# dialog, the log window, the server list's context menu, a UDP tunnel with the protocol selector and
# the tray's menu, a port shared with friends only, the join dialog and a friend's tunnel joined, and
# the connected window in English in both themes. The window runs in a private
# settings folder with the fake frpc client from the test build, so nothing of the user's own is
# touched or needed.
#
#   scripts/screenshots.sh [output folder]      (default: docs/screenshots)
#
# Starting a tunnel ends every frpc process of the user, as the program itself does.
source "$(dirname "$0")/common.sh"

OUT="${1:-$ROOT/docs/screenshots}"
mkdir -p "$OUT"
OUT="$(cd "$OUT" && pwd)"

install_packages
configure_and_build
cd "$BUILD_DIR/tests"
# The pictures show the interface as a desktop would: a plain X server, 96 dpi, no scaling.
QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=1 QT_AUTO_SCREEN_SCALE_FACTOR=0 \
    xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" ./bench_app --screenshots "$OUT"
ls -l "$OUT"
