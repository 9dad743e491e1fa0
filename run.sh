#!/usr/bin/env bash
# Installs what is missing, builds in Release and starts vardel on the
# simulated card. Extra arguments go to vardel (for example --card=port).
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
vardel_install_packages "${VARDEL_BUILD_PACKAGES[@]}" "${VARDEL_RUN_PACKAGES[@]}"

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARDEL_TESTS=OFF -DVARDEL_BENCH=OFF >/dev/null
cmake --build build --target vardel vardel-cli
exec build/bin/vardel "$@"
