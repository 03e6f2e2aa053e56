#!/bin/bash
# Cross-builds the core, the Windows platform layer and their tests with MinGW-w64 and
# runs the tests under Wine. Installs what is missing first (through sudo when not root).
# The ctest output is kept in <build folder>/velmoran/ctest.log.
# Safe to run again: the build folder and the GoogleTest build are reused.
#
#   scripts/test-windows.sh [build folder]      (default: build-windows)
#
# Exits non-zero when anything fails.
set -euo pipefail

source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${1:-$source_dir/build-windows}"
mkdir -p "$build_dir"
build_dir="$(cd "$build_dir" && pwd)"
jobs="${VELMORAN_JOBS:-$(nproc)}"

say() { printf '\n== %s\n' "$*"; }

# --- Packages -------------------------------------------------------------------------
# wine (the launcher script) and wine64 (the loader); the -posix MinGW-w64 compiler, whose
# thread model has std::mutex; GoogleTest's sources, built below for Windows.
"$source_dir/scripts/install-deps.sh" wine wine64 g++-mingw-w64-x86-64-posix googletest \
    cmake ninja-build

toolchain="$source_dir/cmake/mingw-w64-x86_64.cmake"

# --- GoogleTest, built once with the same toolchain -----------------------------------
gtest_build="$build_dir/googletest-build"
gtest_prefix="$build_dir/googletest"
if [ ! -f "$gtest_prefix/lib/cmake/GTest/GTestConfig.cmake" ]; then
    say "Building GoogleTest for Windows"
    cmake -S /usr/src/googletest -B "$gtest_build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$gtest_prefix" -DBUILD_GMOCK=OFF \
        -Dgtest_disable_pthreads=OFF >/dev/null
    cmake --build "$gtest_build" -j "$jobs" >/dev/null
    cmake --install "$gtest_build" >/dev/null
fi

# --- Velmoran, cross-built --------------------------------------------------------------
say "Cross-building the core, the Windows layer and their tests"
cmake -S "$source_dir" -B "$build_dir/velmoran" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Debug \
    -DGTest_DIR="$gtest_prefix/lib/cmake/GTest" -DVELMORAN_BUILD_GUI=OFF \
    -DVELMORAN_BUILD_TESTS=ON -DVELMORAN_BUILD_BENCHMARKS=OFF -DVELMORAN_SANITIZE=OFF \
    -DVELMORAN_FUZZ=OFF >/dev/null
cmake --build "$build_dir/velmoran" -j "$jobs"

# --- Tests under Wine ---------------------------------------------------------------------
# A Wine prefix of its own for every run: created once here, used by every test.
export WINEPREFIX="$build_dir/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="   # no Mono or Gecko installer prompts
export DISPLAY=
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"

stop_wine() { wineserver -k >/dev/null 2>&1 || true; }
trap stop_wine EXIT

say "Starting Wine in $WINEPREFIX"
# The server is started first and kept up, so that Wine's background processes do not
# hold ctest's output open; the first program run creates the prefix.
wineserver -p >/dev/null 2>&1
wine cmd /c exit >/dev/null 2>&1 </dev/null

say "Running the tests under Wine"
status=0
(cd "$build_dir/velmoran" && ctest --output-on-failure --timeout 120 -j "$jobs") </dev/null 2>&1 |
    tee "$build_dir/velmoran/ctest.log" || status=$?

stop_wine
trap - EXIT
rm -rf "$WINEPREFIX"
say "Windows stage finished in ${SECONDS} s (status $status)"
exit $status
