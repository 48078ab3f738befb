#!/usr/bin/env bash
# Installs, from Debian's packages, what the build needs ("build"), and on top
# of it what the tests need ("test"). Installs only what is missing, so it is
# cheap to run again.
set -euo pipefail

build_packages=(
    cmake ninja-build g++ pkg-config
    juce-modules-source juce-modules-source-data
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth
)
test_packages=(
    clang libc++-dev libc++abi-dev libclang-rt-14-dev
    trayer xdotool imagemagick x11-utils fonts-dejavu-core
    valgrind
)

case "${1:-build}" in
    build) wanted=("${build_packages[@]}") ;;
    test) wanted=("${build_packages[@]}" "${test_packages[@]}") ;;
    *) echo "usage: $0 [build|test]" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
