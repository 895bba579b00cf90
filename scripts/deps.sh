#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need, but
# only those that are missing, so a second run costs a fraction of a second.
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache pkg-config git xz-utils binutils
  qt6-base-dev libgl-dev fonts-dejavu-core xvfb xauth x11-utils
  libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev sqlite3 zlib1g-dev
  clang libclang-rt-14-dev
  libhivex-dev libhivex-bin libwin-hivex-perl reglookup libregf-utils chntpw
  pcre2-utils libpcre2-dev unicode-data bzip2 xxd python3-samba
  libpng-dev libpng-tools pngcheck
  libcurl4-openssl-dev python3 python3-pefile binutils-mingw-w64-x86-64
  python3-aiosmtpd dnsmasq-base
  libavahi-client-dev
  python3-pil unzip zip
  libzydis-dev libcapstone-dev nasm
  libelf-dev
  poppler-utils
  libdw-dev elfutils pciutils pci.ids usb.ids iso-codes
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing missing packages: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
