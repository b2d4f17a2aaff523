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
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The real 32-bit product runs here emulated: qemu-user for 32-bit x86
# programs, registered with the kernel (binfmt_misc), and Debian's 32-bit
# wine, which runs it. Only where that can be done (root, binfmt_misc
# available); the tests of the real product are skipped elsewhere.
QEMU_I386=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F'
enable_i386_emulation() {
  [ "$(id -u)" = 0 ] || return 0
  local binfmt=/proc/sys/fs/binfmt_misc
  [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || return 0
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg-query -W -f='${Status}' qemu-user-static 2>/dev/null | grep -q 'install ok installed'; then
    apt-get install -y -qq --no-install-recommends qemu-user-static >/dev/null || return 0
  fi
  [ -e "$binfmt/qemu-i386" ] || printf '%s' "$QEMU_I386" >"$binfmt/register" 2>/dev/null || return 0
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    apt-get update -qq
  fi
  if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
    apt-get install -y -qq --no-install-recommends wine32:i386 >/dev/null || return 0
  fi
}
enable_i386_emulation

# The Chinese locales give wine the OEM code pages 936 and 950.
need_locale() { locale -a 2>/dev/null | grep -qi "^$1\.utf-\?8$"; }
for l in zh_CN zh_TW; do
  if ! need_locale "$l"; then
    localedef -i "$l" -f UTF-8 "$l.UTF-8"
  fi
done
exit 0
