#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libjsmn-dev nettle-dev libgnutls28-dev libx11-dev libxres-dev libfmt-dev
  libsystemd-dev libmicrohttpd-dev curl
  chromium libnss3-tools
  xvfb xauth
  googletest libgtest-dev libgmock-dev libbenchmark-dev
)

missing=()
for package in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
