#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Tillmark needs.
# Idempotent: packages already present are left alone. Works as root or through sudo.
set -euo pipefail

packages=(
    # build
    build-essential cmake pkg-config clang-format clang libclang-rt-14-dev
    qtbase5-dev qtdeclarative5-dev qtquickcontrols2-5-dev libqt5opengl5-dev
    libcpp-httplib-dev libssl-dev zlib1g-dev libbrotli-dev
    # the review player
    libmpv-dev
    # QML modules the interface imports at run time
    qml-module-qtquick2 qml-module-qtquick-controls2 qml-module-qtquick-controls
    qml-module-qtquick-window2 qml-module-qtquick-layouts qml-module-qt-labs-platform
    qml-module-qtquick-templates2 qml-module-qtqml-models2 qml-module-qttest
    # export, simulated clips and their fonts
    ffmpeg fonts-dejavu-core fonts-liberation fontconfig
    # headless runs, screenshots, reference downloads for the benchmarks
    xvfb xauth imagemagick curl xdotool
    # the accessibility check: the login page read over AT-SPI, as a screen reader reads it
    at-spi2-core python3-pyatspi dbus-daemon dbus-bin
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
    echo "install-deps: everything is installed"
    exit 0
fi

sudo=()
if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null || { echo "install-deps: run as root or install sudo" >&2; exit 1; }
    sudo=(sudo)
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
