#!/usr/bin/env bash
# Installs what building, testing and the demonstration need (Debian).
set -euo pipefail
packages=(
  build-essential cmake pkg-config
  libusb-1.0-0-dev
  umockdev libumockdev-dev libglib2.0-dev
  nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  dpkg-dev file groff-base man-db
  # hardening-check, for the hardening test of the plain build.
  devscripts
  jq
  # Packages: Debian (debhelper, lintian) and RPM (rpmbuild, rpmlint, and
  # what rpmbuild needs to split off debugging information).
  debhelper fakeroot lintian adduser rpm rpmlint debugedit elfutils
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
