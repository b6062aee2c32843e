#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the fuzz targets of fuzz/ with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer in a build folder of their own (build-fuzz/), then runs each from its seed
# corpus and its saved regression inputs for the given number of seconds (default 30), as many at a
# time as there are processors. Any finding (a crash, a sanitizer report, a broken property, a hang)
# fails the run; the input is printed and kept in build-fuzz/findings/.
#     ./scripts/fuzz.sh [seconds per target]
source "$(dirname "$0")/common.sh"

SECONDS_PER_TARGET="${1:-30}"
FUZZ_BUILD_DIR="${MARROWGATE_FUZZ_DIR:-$ROOT/build-fuzz}"
TARGETS=(fuzz_import fuzz_settings fuzz_status fuzz_output fuzz_clientfile fuzz_commandline fuzz_sharecode)
FUZZ_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"

install_packages
# clang and its fuzzing runtime (Debian 12: libclang-rt-14-dev, beside clang 14).
if ! command -v clang++ >/dev/null 2>&1; then PACKAGES=(clang); install_packages; fi
if [ ! -f "$(clang++ -print-file-name=libclang_rt.fuzzer-x86_64.a)" ]; then
    major="$(clang++ -dumpversion | cut -d. -f1)"
    PACKAGES=("libclang-rt-$major-dev"); install_packages
fi

cmake -S "$ROOT" -B "$FUZZ_BUILD_DIR" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DMARROWGATE_FUZZ=ON -DMARROWGATE_BUILD_TESTS=OFF -DMARROWGATE_BUILD_BENCH=OFF \
    "-DCMAKE_CXX_FLAGS=$FUZZ_FLAGS" "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined" >/dev/null
cmake --build "$FUZZ_BUILD_DIR" --parallel "$(nproc)" --target "${TARGETS[@]}"

# One target: new inputs go to a scratch copy of the corpus, so that the checked-in one stays as it is.
run_target() {
    local target="$1" work="$FUZZ_BUILD_DIR/fuzz-work/$1" findings="$FUZZ_BUILD_DIR/findings/$1"
    rm -rf "$work"; mkdir -p "$work" "$findings"
    local seeds=("$ROOT/fuzz/corpus/$target")
    if [ -d "$ROOT/fuzz/regressions/$target" ]; then seeds+=("$ROOT/fuzz/regressions/$target"); fi
    if ASAN_OPTIONS="detect_leaks=0" "$FUZZ_BUILD_DIR/fuzz/$target" -max_total_time="$SECONDS_PER_TARGET" \
            -timeout=25 -print_final_stats=1 -artifact_prefix="$findings/" "$work" \
            "${seeds[@]}" >"$work.log" 2>&1; then
        echo "$target: $(sed -n 's/^stat::number_of_executed_units: *//p' "$work.log") runs in" \
             "${SECONDS_PER_TARGET} s, no finding"
        return 0
    fi
    echo "$target: FINDING" >&2
    grep -v -e '^#[0-9]' -e '^INFO' -e 'Uses:' "$work.log" | tail -n 40 >&2
    for input in "$findings"/*; do
        [ -f "$input" ] || continue
        echo "== input $input (keep it in fuzz/regressions/$target/ once mended):" >&2
        od -A d -c "$input" | head -n 40 >&2
    done
    return 1
}

# Leak reports stay off: the toolkit keeps memory until the end on purpose.
status=0
pids=()
for target in "${TARGETS[@]}"; do
    run_target "$target" &
    pids+=($!)
    if [ "${#pids[@]}" -ge "$(nproc)" ]; then
        wait "${pids[0]}" || status=1
        pids=("${pids[@]:1}")
    fi
done
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
exit "$status"
