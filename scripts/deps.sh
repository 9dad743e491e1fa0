# Installs the Debian packages the build, the program and the tests need,
# only those that are missing. Sourced by run.sh and test.sh.

# Qt SVG: the recorder saves its plot as an SVG drawing (QSvgGenerator).
VARDEL_BUILD_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-svg-dev libgtest-dev libgmock-dev libbenchmark-dev)
# Fonts metric-compatible with Times New Roman, Times and Arial, which the
# windows and the printout name (and Liberation Sans Narrow for the register
# grid), and DejaVu for plain sans-serif; Qt's Polish translations for its own
# dialogs and buttons.
VARDEL_RUN_PACKAGES=(fonts-liberation fonts-dejavu-core libqt6printsupport6 libqt6svg6 qt6-translations-l10n)
# The Debian package: dependencies from the binaries (dpkg-shlibdeps), the
# hardening flags, and the checks of what it installs.
VARDEL_PACKAGE_PACKAGES=(dpkg-dev lintian desktop-file-utils man-db)
# PDF checks of the printout, the print service the printing test uses, and
# the package test. The package test installs the package for real, so its
# own dependencies for the card's group and the port helper's capability
# (adduser, libcap2-bin) are needed too; the privilege tests give copies of
# the programs capabilities with setcap. fc-match for the package's fonts, the
# time zones for time stamps across a change of the clocks. A real X server
# with a window manager, whose framebuffer shows the read window as the
# monitor does (Xvfb keeps it in a file). The locales' sources, for a test
# under a Polish locale made on the spot (localedef).
VARDEL_TEST_PACKAGES=(poppler-utils cups cups-client cups-bsd printer-driver-cups-pdf "${VARDEL_PACKAGE_PACKAGES[@]}"
    adduser libcap2-bin fontconfig tzdata xvfb openbox locales
    mbpoll python3-pymodbus) # Modbus clients nobody here wrote, for the gateway's tests
# The fuzz targets (./fuzz.sh, and briefly in ./test.sh): clang with libFuzzer.
VARDEL_FUZZ_PACKAGES=(clang libclang-rt-14-dev)
VARDEL_TEST_PACKAGES+=("${VARDEL_FUZZ_PACKAGES[@]}")

vardel_missing_packages() {
    local p missing=()
    for p in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$p")
        fi
    done
    echo "${missing[@]:-}"
}

vardel_install_packages() {
    local missing
    missing=$(vardel_missing_packages "$@")
    [ -z "$missing" ] && return 0
    echo "Instalowanie brakujących pakietów: $missing"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1; then
            sudo="sudo"
        else
            echo "Brak pakietów: $missing. Zainstaluj je jako root: apt-get install $missing" >&2
            return 1
        fi
    fi
    export DEBIAN_FRONTEND=noninteractive
    if ! $sudo apt-get install -y --no-install-recommends $missing; then
        # The package lists may be missing or stale on a fresh machine.
        $sudo apt-get update -qq || true
        if ! $sudo apt-get install -y --no-install-recommends $missing; then
            echo "Nie udało się zainstalować pakietów: $missing" >&2
            return 1
        fi
    fi
}
