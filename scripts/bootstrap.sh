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

# The real 32-bit product runs here through Debian's 32-bit wine. Where the
# kernel cannot execute 32-bit x86 programs itself, qemu-user emulates them,
# registered with the kernel for them (binfmt_misc: Debian registers no such
# handler on amd64). Only where that can be done (root; binfmt_misc for the
# emulator): elsewhere the tests of the real product are skipped.
QEMU_I386=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F'
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
enable_32bit_programs() {
  [ "$(id -u)" = 0 ] || return 0
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    apt-get update -qq
  fi
  local wine32=(apt-get install -y -qq --no-install-recommends wine32:i386)
  installed wine32:i386 || "${wine32[@]}" >/dev/null 2>&1 || true
  # The 32-bit loader runs: natively, or through a handler registered before.
  /usr/lib/wine/wine --version >/dev/null 2>&1 && return 0
  installed qemu-user-static || apt-get install -y -qq --no-install-recommends qemu-user-static >/dev/null || return 0
  local binfmt=/proc/sys/fs/binfmt_misc
  [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || return 0
  if [ -e "$binfmt/qemu-i386" ]; then
    echo 1 >"$binfmt/qemu-i386" 2>/dev/null || return 0
  else
    printf '%s' "$QEMU_I386" >"$binfmt/register" 2>/dev/null || return 0
  fi
  # A package whose set-up ran a 32-bit program before the emulator was there.
  installed wine32:i386 || { dpkg --configure -a && "${wine32[@]}" >/dev/null; } || return 0
}
enable_32bit_programs

# The Chinese locales give wine the OEM code pages 936 and 950; English and
# Japanese ones 1252 and 932, under which setup's texts must read the same.
need_locale() { locale -a 2>/dev/null | grep -qi "^$1\.utf-\?8$"; }
for l in zh_CN zh_TW en_US ja_JP; do
  if ! need_locale "$l"; then
    localedef -i "$l" -f UTF-8 "$l.UTF-8"
  fi
done
exit 0
