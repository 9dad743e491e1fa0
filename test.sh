#!/usr/bin/env bash
# Installs what is missing, builds with the sanitizers and warnings as errors,
# and runs the whole test suite headless.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
vardel_install_packages "${VARDEL_BUILD_PACKAGES[@]}" "${VARDEL_RUN_PACKAGES[@]}" "${VARDEL_TEST_PACKAGES[@]}"

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc 2>/dev/null || echo 2)
# ccache, where installed, makes rebuilds of several checkouts cheap; it is optional.
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVARDEL_SANITIZE=ON -DVARDEL_WERROR=ON "${launcher[@]}" >/dev/null
cmake --build build-test -j "$jobs"

# The fuzz targets of every reader of outside data, in a clang tree of their
# own: each over its seeds, then a few seconds of fuzzing (./fuzz.sh runs longer).
./fuzz.sh --test

cd build-test
ctest --output-on-failure -j "$jobs" "$@"
