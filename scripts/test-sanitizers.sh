#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the program and its tests in Debug with AddressSanitizer and UndefinedBehaviorSanitizer, in a
# build folder of their own, and runs there every test that needs neither a desktop session, the real
# frp client and server, the Windows cross compiler nor an installation. Any report fails the run.
# Arguments are passed on to ctest (for example -R tst_frpcmanager).
source "$(dirname "$0")/common.sh"

SANITIZER_DIR="${MARROWGATE_SANITIZER_DIR:-$ROOT/build-asan}"
SANITIZER_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"

install_packages
cmake -S "$ROOT" -B "$SANITIZER_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMARROWGATE_BUILD_BENCH=OFF \
    "-DCMAKE_CXX_FLAGS=$SANITIZER_FLAGS" "-DCMAKE_EXE_LINKER_FLAGS=$SANITIZER_FLAGS"
cmake --build "$SANITIZER_DIR" --parallel "$(nproc)"
cd "$SANITIZER_DIR"
# Leak reports stay off: the toolkit and fontconfig keep memory until the end on purpose. Any other
# report ends the process with a failure, and so fails its test.
export ASAN_OPTIONS="detect_leaks=0:halt_on_error=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
ctest --output-on-failure -LE "desktop|frp|windows|install" "$@"
