# shellcheck shell=bash
# The wine loaders, named: the 64-bit build runs through the 64-bit loader
# itself, whatever `wine` would choose once Debian's wine32 is installed (its
# wrapper then takes the 32-bit loader, in which the 64-bit build installs
# nothing). The real 32-bit product takes the 32-bit loader.
MOFA_WINE64=${MOFA_WINE64:-/usr/lib/wine/wine64}
MOFA_WINE32=${MOFA_WINE32:-/usr/lib/wine/wine}
# The loader of the program under test: the 64-bit one unless told otherwise.
MOFA_WINE=${MOFA_WINE:-$MOFA_WINE64}
# Tools the tests run in a prefix (reg, holdfile) take the 64-bit loader, which
# starts at once (a 32-bit process may run emulated), except in a prefix of
# 32-bit Windows, where nothing else runs.
mofa_prefix_is_win32() { grep -qs '^#arch=win32' "${WINEPREFIX:-}/system.reg"; }
wine() {
  if mofa_prefix_is_win32; then "$MOFA_WINE32" "$@"; else "$MOFA_WINE64" "$@"; fi
}

# Where the kernel cannot run 32-bit x86 programs itself, a 32-bit process
# runs under qemu-i386, whose guest address space is 4 GB
# unless told otherwise. Wine then reserves everything above 2 GB for a
# program that is not large-address aware, in 64 KB pieces around qemu's own
# mappings: a minute of emulation before each process's first instruction.
# With the guest's space ending just above 2 GB (past the shared user data
# and the loader's top-down area), a process starts in about three seconds.
export QEMU_RESERVED_VA=${QEMU_RESERVED_VA:-0x81000000}

# mofa_emulation_missing: prints why 32-bit Windows programs cannot run here,
# or nothing (exit 1) when they can.
mofa_emulation_missing() {
  if [ ! -x "$MOFA_WINE32" ]; then
    echo "no 32-bit wine loader at $MOFA_WINE32 (wine32:i386 is not installed)"
  elif ! "$MOFA_WINE32" --version >/dev/null 2>&1; then
    echo "32-bit x86 programs do not run here (the kernel does not run them and no qemu-i386 handler is registered with binfmt_misc)"
  else
    return 1
  fi
}
