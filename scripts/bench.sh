#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds everything and runs the benchmarks: the whole program through its real window, the tunnel
# controller, the log window, and the endurance of the controller and of the window. Each prints its
# own figures.
# Starting a tunnel ends every frpc process of the user, as the program itself does.
source "$(dirname "$0")/common.sh"

install_packages
build_frp || echo "Without the real frp client only the fake one is measured." >&2
configure_and_build
cd "$BUILD_DIR/tests"
run_x() { QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" "$@"; }

echo "== Whole program =="
run_x ./bench_app --frp-dir "$FRP_DIR"
echo "== Tunnel controller =="
./bench_frpcmanager
echo "== Several tunnels through the real client =="
./bench_tunnels --frp-dir "$FRP_DIR"
./bench_join --frp-dir "$FRP_DIR"
echo "== Waiting for a server, and the wake-up =="
./bench_waiting --frp-dir "$FRP_DIR"
echo "== Log window =="
run_x ./bench_logwindow
echo "== Endurance: the controller =="
./bench_endurance
echo "== Endurance: the whole window =="
run_x ./bench_endurance_window
