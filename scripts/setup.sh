#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, then configures
# and builds. Sourced by run.sh and test.sh; safe to run again.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${QUELMAR_BUILD_DIR:-$ROOT/build}

# What `run` needs; `test` adds TEST_PACKAGES.
RUN_PACKAGES=(cmake make g++ qt6-base-dev qt6-base-dev-tools qt6-serialport-dev
              xvfb xauth imagemagick fonts-dejavu-core)
TEST_PACKAGES=(clang-14 libclang-rt-14-dev libbenchmark-dev
               desktop-file-utils appstream dpkg-dev file)

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

configure_and_build() {
    local dir=$1; shift
    cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" -j"$(nproc)"
}
