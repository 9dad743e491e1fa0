#!/usr/bin/env bash
# ./fuzz.sh [TARGET] [SECONDS]
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz and runs TARGET, or every target,
# for SECONDS each (default 60). The inputs a run finds are kept in
# build-fuzz/corpus/TARGET for the next run; an input that crashes a reader,
# hangs it or trips a sanitizer is kept in fuzz-findings/TARGET/ (which git
# ignores) and printed.
# ./fuzz.sh --test   builds them and runs the short CTest cases ./test.sh runs.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
vardel_install_packages "${VARDEL_BUILD_PACKAGES[@]}" "${VARDEL_FUZZ_PACKAGES[@]}"

mode=run
if [ "${1:-}" = --test ]; then
    mode=test
    shift
fi
targets=()
for source in tests/fuzz/fuzz_*.cpp; do
    name=${source#tests/fuzz/fuzz_}
    targets+=("${name%.cpp}")
done
wanted=${1:-all}
wanted=${wanted#fuzz_}
seconds=${2:-60}
if [ "$wanted" != all ]; then
    if [[ " ${targets[*]} " != *" $wanted "* ]]; then
        echo "Nieznany cel: $wanted. Cele: ${targets[*]}" >&2
        exit 2
    fi
    targets=("$wanted")
fi

launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVARDEL_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ \
    "${launcher[@]}" >/dev/null
cmake --build build-fuzz -j "$(nproc 2>/dev/null || echo 2)"

if [ "$mode" = test ]; then
    cd build-fuzz
    # No test at all means the tree could not build the targets: that fails too.
    exec ctest --output-on-failure --no-tests=error -j "$(nproc 2>/dev/null || echo 2)"
fi

failed=()
for t in "${targets[@]}"; do
    tests/fuzz/run-target.sh "build-fuzz/fuzz/fuzz_$t" "tests/fuzz/corpus/$t" "$seconds" \
        "build-fuzz/corpus/$t" "fuzz-findings/$t" || failed+=("$t")
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "Cele z błędem: ${failed[*]} (dane wejściowe w fuzz-findings/)" >&2
    exit 1
fi
