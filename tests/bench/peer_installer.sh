#!/usr/bin/env bash
# The product program beside a peer: a plain silent installer of the same
# payload files made with Debian's NSIS (zlib, x86, the Unicode stub; and an
# amd64 one for the 64-bit build), sizes
# side by side. Part of `make bench`, not a test.
#
#   peer_installer.sh PRODUCT PAYLOAD FILES-DIR MANIFEST WORK-DIR
set -euo pipefail
product=$1 payload=$2 files=$3 manifest=$4 work=$5
command -v makensis >/dev/null || { echo "bench: makensis is not installed (run make bootstrap)" >&2; exit 1; }
mkdir -p "$work"
# The x86 installer beside the product, the amd64 one beside its 64-bit build.
for target in x86 amd64; do
  script=$work/peer-$target.nsi
  out=$work/peer-setup.exe programs='$PROGRAMFILES'
  [ "$target" = amd64 ] && out=$work/peer-setup64.exe programs='$PROGRAMFILES64'
  {
    printf '\xef\xbb\xbf'  # UTF-8, for the Chinese file names
    echo 'Unicode true'
    echo "Target $target-unicode"
    echo 'SetCompressor zlib'
    echo 'SilentInstall silent'
    echo 'RequestExecutionLevel admin'
    echo "OutFile \"$out\""
    echo "InstallDir \"$programs\\mofahu\""
    echo 'Section'
    echo '  SetOutPath $INSTDIR'
    grep -v '^#' "$manifest" | while IFS= read -r name; do
      [ -n "$name" ] && echo "  File \"$files/$name\""
    done
    echo 'SectionEnd'
  } >"$script"
  makensis -V1 "$script" >"$work/makensis.log" 2>&1 || { cat "$work/makensis.log" >&2; exit 1; }
done
ours=$(stat -c %s "$product")
peer=$(stat -c %s "$work/peer-setup.exe")
stub=$((ours - $(stat -c %s "$payload")))
printf 'mofasetup.exe (the product):            %8d bytes (%d without the payload)\n' "$ours" "$stub"
printf 'NSIS 3 zlib x86 silent installer:       %8d bytes (its stub %d)\n' "$peer" \
  "$(stat -c %s /usr/share/nsis/Stubs/zlib-x86-unicode 2>/dev/null || echo 0)"
awk -v a="$ours" -v b="$peer" 'BEGIN { printf "mofasetup / NSIS:                       %8.3f (goal: at most 0.95)\n", a / b }'
