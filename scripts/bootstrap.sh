#!/usr/bin/env bash
# Installs the build and test toolchain from Debian's packages.
# Idempotent: when every package is already present it only checks and returns.
set -euo pipefail

PKGS=(
  cmake make g++ pkg-config
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64
  zlib1g-dev libzopfli-dev libmd-dev
  wine wine64
  xvfb xdotool x11-utils imagemagick
  locales fonts-arphic-uming fonts-arphic-ukai
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  python3 python3-pefile
  nsis osslsigncode openssl
)

missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "bootstrap: missing packages (${missing[*]}); run as root to install them" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # wine32 is never wanted: this machine cannot run 32-bit code, and its presence
  # makes the wine wrapper choose it.
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The Chinese locales give wine the OEM code pages 936 and 950.
need_locale() { locale -a 2>/dev/null | grep -qi "^$1\.utf-\?8$"; }
for l in zh_CN zh_TW; do
  if ! need_locale "$l"; then
    localedef -i "$l" -f UTF-8 "$l.UTF-8"
  fi
done
exit 0
