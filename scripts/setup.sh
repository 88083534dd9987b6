#!/usr/bin/env bash
# Installs the Debian 12 packages the build needs, and any named as arguments, when missing.
set -euo pipefail
# The servers the tests start on 127.0.0.1, the TLS and fuzzing tool chains, Qt's translations,
# the checkers of the desktop entry, the manual pages (groff), the AppStream metainfo and the
# package (lintian), and the Debian packaging tools are installed here too, so a fresh machine
# runs every test.
packages=(cmake ninja-build g++ pkg-config qt6-base-dev libgtest-dev libgmock-dev
          libcurl4-openssl-dev libssl-dev libsqlite3-dev zlib1g-dev openssl ca-certificates curl python3
          nginx-light tinyproxy microsocks dante-server python3-impacket
          qt6-translations-l10n desktop-file-utils dpkg-dev file groff-base appstream lintian
          clang libclang-rt-14-dev "$@")
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if ((${#missing[@]})); then
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi
