#!/usr/bin/env bash
# Builds Velmoran and runs every test: the whole suite, the core and platform tests again
# under AddressSanitizer and UndefinedBehaviorSanitizer, the registry and Steam file fuzzers
# for a bounded time each, and the Windows layer's tests cross-built and run under Wine;
# builds the Debian package and checks it, down to starting the unpacked program; runs the
# README's own commands one after another, as a newcomer would.
# Installs the missing Debian packages first.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
source "$top/scripts/packages.sh"
source "$top/scripts/configure.sh"
"$top/scripts/install-deps.sh" "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"
jobs="$(nproc)"
fuzz_seconds="${VELMORAN_FUZZ_SECONDS:-60}"
failed=()
passed_count=0
failed_count=0

stage() { echo; echo "=== $*"; }

# Adds the counts of a ctest log's closing line to the totals.
count_ctest_log() {
    local line total bad
    line="$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" 2>/dev/null | tail -n 1)"
    [ -n "$line" ] || return 0
    total="$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")"
    bad="$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")"
    passed_count=$((passed_count + total - bad))
    failed_count=$((failed_count + bad))
}

# Runs ctest in a build folder and adds its counts to the totals.
run_ctest() {
    local dir="$1"; shift
    local status=0
    (cd "$dir" && ctest --output-on-failure -j "$jobs" "$@") 2>&1 | tee "$dir/ctest.log" || status=1
    count_ctest_log "$dir/ctest.log"
    return "$status"
}

stage "Build and run all tests"
configure_build "$top/build" -DCMAKE_BUILD_TYPE=Debug -DVELMORAN_BUILD_TESTS=ON \
    -DVELMORAN_BUILD_BENCHMARKS=ON
cmake --build "$top/build" -j "$jobs"
run_ctest "$top/build" || failed+=("tests")

stage "Debian package: build, validate, unpack and start the program"
"$top/scripts/check-package.sh" || failed+=("package")

stage "The README's commands, in its order and in reverse, as a newcomer runs them"
"$top/scripts/check-readme.sh" || failed+=("README commands")

stage "Core and platform tests under AddressSanitizer and UndefinedBehaviorSanitizer"
configure_build "$top/build-sanitize" -DCMAKE_BUILD_TYPE=Debug -DVELMORAN_BUILD_GUI=OFF \
    -DVELMORAN_BUILD_TESTS=ON -DVELMORAN_SANITIZE=ON
cmake --build "$top/build-sanitize" -j "$jobs"
# The long kill-point runs have already run above, unsanitized.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    run_ctest "$top/build-sanitize" -E "PatchSwapFaults" || failed+=("sanitized tests")

# Runs one fuzzer of build-fuzz for fuzz_seconds on a copy of its seed corpus.
run_fuzzer() {
    local target="$1" seeds="$2" what="$3"
    local corpus log="$top/build-fuzz/$target.log"
    cmake --build "$top/build-fuzz" -j "$jobs" --target "$target"
    corpus="$(mktemp -d)"
    cp "$seeds"/* "$corpus/"
    if "$top/build-fuzz/tests/$target" -max_total_time="$fuzz_seconds" -print_final_stats=1 \
        "$corpus" >"$log" 2>&1; then
        grep -E "stat::number_of_executed_units" "$log" || true
        echo "$what fuzzer: no crash, no sanitizer report"
    else
        tail -n 40 "$log"
        failed+=("$what fuzzer")
    fi
    rm -rf "$corpus"
}

stage "Registry and Steam file (VDF) fuzzers, ${fuzz_seconds} s each"
configure_build "$top/build-fuzz" -DCMAKE_CXX_COMPILER=clang++-14 -DVELMORAN_BUILD_GUI=OFF \
    -DVELMORAN_BUILD_TESTS=ON -DVELMORAN_FUZZ=ON -DVELMORAN_SANITIZE=ON
run_fuzzer velmoran_registry_fuzzer "$top/tests/fuzz/corpus" registry
run_fuzzer velmoran_vdf_fuzzer "$top/tests/fuzz/vdf-corpus" VDF

if [ -x "$top/scripts/test-windows.sh" ]; then
    stage "Windows layer: cross-built with MinGW-w64, run under Wine"
    "$top/scripts/test-windows.sh" || failed+=("windows tests")
    count_ctest_log "$top/build-windows/velmoran/ctest.log"
fi

echo
echo "${passed_count} passed, ${failed_count} failed"
if [ ${#failed[@]} -eq 0 ]; then
    echo "All test stages passed."
else
    echo "Failed stages: ${failed[*]}"
    exit 1
fi
