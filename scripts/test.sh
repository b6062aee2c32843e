#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs what is missing, builds everything and runs the whole test suite, then the tests that need
# no desktop session, real frp nor cross compiler once more under the sanitizers
# (scripts/test-sanitizers.sh, in build-asan/), and last the fuzz targets for 30 s each
# (scripts/fuzz.sh, in build-fuzz/); under CI the Debian package on a clean system as well
# (scripts/package-check.sh). Fails when any of them fails.
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
# Under CI, last, the package on a freshly bootstrapped Debian 12 (scripts/package-check.sh, about
# 5 minutes) while the CI's time allows. Without the network, root or the time it is skipped with a
# message; only a fault of the package (its exit code 1) fails the run.
if [ -n "${CI:-}" ]; then
    left=$(( ${MARROWGATE_CI_MINUTES:-90} * 60 - SECONDS ))
    if [ "$left" -lt $(( 25 * 60 )) ]; then
        echo "Package check skipped: $(( left / 60 )) minutes of the CI's time left, it needs up to 20."
    else
        package_status=0
        timeout $(( left - 5 * 60 )) "$ROOT/scripts/package-check.sh" || package_status=$?
        case "$package_status" in
            0) ;;
            1) status=1 ;;
            *) echo "Package check not run to the end (exit code $package_status); not counted." ;;
        esac
    fi
fi
exit "$status"
