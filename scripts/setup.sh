# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by ./test and ./run: installs with apt-get whatever the build needs and is missing.
zta_packages=(g++ clang cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev
              qt6-base-dev qt6-qpa-plugins qt6-serialport-dev qt6-charts-dev libqt6opengl6-dev
              libgl-dev mbpoll nlohmann-json3-dev qt6-translations-l10n dpkg-dev lintian
              desktop-file-utils ccache clang-format libqt6sql6-sqlite sqlite3 poppler-utils
              fonts-dejavu-core python3-jsonschema
              ser2net python3-pymodbus python3-serial python3-serial-asyncio)
# The Windows stage (scripts/test-windows.sh): cross compilers, Wine, GoogleTest's sources.
zta_windows_packages=(mingw-w64 wine wine64 googletest nlohmann-json3-dev ccache)

zta_setup() {
    local missing=()
    for p in "${zta_packages[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' \
            || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
}
