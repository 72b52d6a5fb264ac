#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those
# that are missing.
set -euo pipefail
pkgs=(g++ cmake make libxml2-dev libxml2-utils libgtest-dev libgmock-dev umockdev libumockdev-dev pkg-config util-linux dosfstools mtools)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
