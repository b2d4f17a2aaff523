#!/usr/bin/env bash
# Installs the build and test toolchain from Debian's packages.
# Idempotent: when every package is already present it only checks and returns.
#
# A package index that will not refresh (a mirror in the middle of a sync, one
# architecture's list of the wrong size) is a warning, not an error: apt keeps
# the lists it did download, and every package may still be found there. Only
# an install that fails is an error, and it names its packages and the indexes
# that did not download.
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
  nsis osslsigncode openssl strace eatmydata
)
# Tries of an index refresh, and the seconds between them.
REFRESH_TRIES=${MOFA_APT_TRIES:-3}
REFRESH_PAUSE=${MOFA_APT_PAUSE:-5}
# The 32-bit loader the tests of the real product use (scripts/wine-env.sh).
WINE32=${MOFA_WINE32:-/usr/lib/wine/wine}
BINFMT=${MOFA_BINFMT_DIR:-/proc/sys/fs/binfmt_misc}

export DEBIAN_FRONTEND=noninteractive
# The indexes the last refresh could not download, one a line.
failed_indexes=""

# The lists of one architecture that another's source has and it lacks: the
# indexes of that architecture an earlier refresh did not download.
missing_lists() {
  local f
  for f in "${MOFA_APT_LISTS:-/var/lib/apt/lists}"/*_binary-amd64_Packages*; do
    [ -e "$f" ] || continue
    compgen -G "${f%%_binary-amd64_Packages*}_binary-$1_Packages*" >/dev/null ||
      basename "${f%%_binary-amd64_Packages*}_binary-$1_Packages" | tr _ /
  done
}

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# apt-get update, tried again a few times; then on with the lists there are.
refresh_index() {
  local try out
  for ((try = 1; try <= REFRESH_TRIES; try++)); do
    if out=$(apt-get update -qq 2>&1); then
      failed_indexes=""
      return 0
    fi
    failed_indexes=$(printf '%s\n' "$out" | sed -n 's/^[EW]: Failed to fetch \([^ ]*\).*/\1/p')
    [ -n "$failed_indexes" ] || failed_indexes=$(printf '%s\n' "$out" | grep '^E:' | head -n 3)
    [ "$try" -lt "$REFRESH_TRIES" ] && sleep "$REFRESH_PAUSE"
  done
  echo "bootstrap: warning: the package index did not refresh after $REFRESH_TRIES tries; going on with the lists apt has. Not downloaded:" >&2
  printf '%s\n' "$failed_indexes" | sed 's/^/  /' >&2
  return 0
}

# Installs the packages named; on failure prints apt's reason and returns 1.
install_packages() {
  local out
  if out=$(apt-get install -y -qq --no-install-recommends "$@" 2>&1); then return 0; fi
  install_error=$(printf '%s\n' "$out" | grep -E '^E:|Depends:|Unable to locate' | head -n 4)
  return 1
}

missing=()
for p in "${PKGS[@]}"; do
  installed "$p" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "bootstrap: missing packages (${missing[*]}); run as root to install them" >&2
    exit 1
  fi
  refresh_index
  if ! install_packages "${missing[@]}"; then
    echo "bootstrap: could not install: ${missing[*]}" >&2
    printf '%s\n' "$install_error" | sed 's/^/  /' >&2
    [ -z "$failed_indexes" ] || { echo "  indexes that did not download:" >&2; printf '%s\n' "$failed_indexes" | sed 's/^/    /' >&2; }
    exit 1
  fi
fi

# The real 32-bit product runs here through Debian's 32-bit wine. Where the
# kernel cannot execute 32-bit x86 programs itself, qemu-user emulates them,
# registered with the kernel for them (binfmt_misc: Debian registers no such
# handler on amd64). Where that cannot be done the tests of the real product
# are skipped, and this says so in one line.
QEMU_I386=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F'
SKIPS="the tests of the real 32-bit product (e2e32_*, and the 32-bit parts of e2e_silent_install, e2e_preload_upgrade and make bench) will be skipped"
no_32bit() { echo "bootstrap: $1; $SKIPS" >&2; }
enable_32bit_programs() {
  [ "$(id -u)" = 0 ] || { installed wine32:i386 || no_32bit "wine32:i386 is not installed and only root can install it"; return 0; }
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    refresh_index
  fi
  if ! installed wine32:i386 && ! install_packages wine32:i386; then
    # A package whose set-up ran a 32-bit program before an emulator was there
    # is retried below, once the emulator is; any other failure is final.
    dpkg --configure -a >/dev/null 2>&1 || true
    if ! dpkg-query -W wine32:i386 >/dev/null 2>&1; then
      local why=${install_error%%$'\n'*} lists
      lists=${failed_indexes:-$(missing_lists i386)}
      [ -z "$lists" ] || why="$why; index not downloaded: $(echo $lists)"
      no_32bit "wine32:i386 cannot be installed: $why"
      return 0
    fi
  fi
  # The 32-bit loader runs: natively, or through a handler registered before.
  "$WINE32" --version >/dev/null 2>&1 && return 0
  installed qemu-user-static || install_packages qemu-user-static ||
    { no_32bit "32-bit programs do not run here and qemu-user-static cannot be installed"; return 0; }
  [ -e "$BINFMT/register" ] || mount -t binfmt_misc binfmt_misc "$BINFMT" 2>/dev/null ||
    { no_32bit "32-bit programs do not run here and binfmt_misc cannot be mounted"; return 0; }
  if [ -e "$BINFMT/qemu-i386" ]; then
    echo 1 >"$BINFMT/qemu-i386" 2>/dev/null || { no_32bit "the qemu-i386 handler cannot be enabled"; return 0; }
  else
    printf '%s' "$QEMU_I386" >"$BINFMT/register" 2>/dev/null || { no_32bit "the qemu-i386 handler cannot be registered"; return 0; }
  fi
  installed wine32:i386 || { dpkg --configure -a >/dev/null 2>&1 && install_packages wine32:i386; } ||
    { no_32bit "wine32:i386 did not set up under the emulator"; return 0; }
  "$WINE32" --version >/dev/null 2>&1 || no_32bit "the 32-bit wine loader does not start"
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
