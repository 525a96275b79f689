#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages the build and the tests need, and builds
# through the project's presets. Sourced by run.sh, test.sh and bench/run.sh;
# safe to run again.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=$ROOT/build

# What `run` needs; `test` adds TEST_PACKAGES. Qt Charts' CMake files look
# for Qt OpenGL's, which Debian's qt6-charts-dev does not pull in, and Qt
# HTTP Server's for Qt WebSockets'. The logger's page draws with
# libjs-chart.js.
RUN_PACKAGES=(cmake make g++ qt6-base-dev qt6-base-dev-tools qt6-serialport-dev
              qt6-charts-dev libqt6opengl6-dev libmosquitto-dev libssl-dev pkg-config libsystemd-dev
              fonts-liberation2 xvfb xauth imagemagick fonts-dejavu-core
              qt6-httpserver-dev qt6-websockets-dev libjs-chart.js)
# The MQTT tests run a broker of their own and make their certificates; the
# web tests check /metrics with promtool, scrape it with a Prometheus of
# their own and load the page in headless Chromium; the packaging test has
# systemd check the service unit.
TEST_PACKAGES=(clang clang-14 libclang-rt-14-dev libbenchmark-dev
               desktop-file-utils appstream dpkg-dev file binutils lintian
               mosquitto mosquitto-clients openssl prometheus chromium systemd)

missing_packages() {
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
    done
}

install_packages() {
    local missing
    missing=$(missing_packages "$@" | tr '\n' ' ')
    [ -z "${missing// }" ] && return 0
    if [ "$(id -u)" -eq 0 ]; then
        echo "Installing: $missing"
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
    else
        echo "These Debian packages are missing. Install them with:" >&2
        echo "  sudo apt-get install -y --no-install-recommends $missing" >&2
        exit 1
    fi
}

# build_preset NAME: configure and build with the preset of that name, on
# every core.
build_preset() {
    (cd "$ROOT" && cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j"$(nproc)")
}
