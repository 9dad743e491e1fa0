#!/usr/bin/env bash
# Builds the Debian package build-pkg/vardel_<version>-1_<arch>.deb: vardel and
# vardel-cli built in Release with Debian's hardening flags and stripped, the
# names files, menu entry, icon, manual pages and bash completion. Checks it
# with lintian and prints the package's path last.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
vardel_install_packages "${VARDEL_BUILD_PACKAGES[@]}" "${VARDEL_PACKAGE_PACKAGES[@]}"

# Debian's hardening flags, all of them (bindnow too).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# A ccache base_dir would hand the compiler relative paths, and with them
# other debug info and another build ID than a build without ccache: the
# package must not depend on how the builder's ccache is set up.
export CCACHE_BASEDIR=
cmake -S . -B build-pkg -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARDEL_TESTS=OFF -DVARDEL_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" "${launcher[@]}" >/dev/null
cmake --build build-pkg
rm -f build-pkg/vardel_*.deb
(cd build-pkg && cpack -G DEB >/dev/null)
deb=$(ls build-pkg/vardel_*.deb)
lintian --fail-on error "$deb" || { echo "lintian: błędy w pakiecie $deb" >&2; exit 1; }
echo "$deb"
