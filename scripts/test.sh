#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite, then the tests that need
# no desktop session, real frp nor cross compiler once more under the sanitizers
# (scripts/test-sanitizers.sh, in build-asan/), and last the fuzz targets for 30 s each
# (scripts/fuzz.sh, in build-fuzz/). Fails when any of them fails.
source "$(dirname "$0")/common.sh"

install_packages
if ! build_frp; then
    if [ -n "${CI:-}" ]; then echo "CI needs the real frp client and server." >&2; exit 1; fi
fi
configure_and_build
status=0
# The whole-program tests need an X server; the others run offscreen.
(cd "$BUILD_DIR" && xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure "$@") || status=$?
"$ROOT/scripts/test-sanitizers.sh" "$@" || status=$?
"$ROOT/scripts/fuzz.sh" || status=$?
exit "$status"
