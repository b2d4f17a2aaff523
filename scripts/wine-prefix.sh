#!/usr/bin/env bash
# Makes a fresh wine prefix for one test from a template prefix that is
# created once (wineboot takes half a minute, a copy a fraction of a second).
#
#   wine-prefix.sh DIR [--version win7|winxp|winxp64|win98] [--no-wow64] [--win32]
#
# --no-wow64 removes C:\windows\syswow64, which makes the 64-bit test build
# see 32-bit Windows. --win32 makes a prefix of true 32-bit Windows, in which
# only 32-bit programs (the real product) run, emulated where the kernel
# cannot run them.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$1; shift
version=win7
wow64=1
arch=win64
while [ $# -gt 0 ]; do
  case $1 in
    --version) version=$2; shift 2 ;;
    --no-wow64) wow64=0; shift ;;
    --win32) arch=win32; shift ;;
    *) echo "wine-prefix.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

# shellcheck source=wine-env.sh
source "$here/wine-env.sh"
export WINEDEBUG=-all
if [ "$arch" = win32 ]; then
  template=${MOFA_WINE_TEMPLATE32:-$here/../build/wine/template32}
  loader=$MOFA_WINE32
  if reason=$(mofa_emulation_missing); then
    echo "wine-prefix.sh: no prefix of 32-bit Windows: $reason" >&2
    exit 2
  fi
else
  template=${MOFA_WINE_TEMPLATE:-$here/../build/wine/template}
  loader=$MOFA_WINE64
fi
# user_values PREFIX KEY LINE...: values added to the user's registry file of
# a prefix whose server has ended, in the file's own notation; the server
# merges a key's sections when it loads the file. Starting reg for this would
# cost a whole session of emulated system processes in a 32-bit prefix.
user_values() {
  local prefix=$1 key=$2
  shift 2
  printf '\n[%s] %s\n' "$key" "$(date +%s)" >>"$prefix/user.reg"
  printf '%s\n' "$@" >>"$prefix/user.reg"
}

# What the template was made with: wineboot fills SysWOW64 with the 32-bit
# programs only when the 32-bit loader is there, so a template made before
# it was installed is made again.
stamp="$arch wine32=$([ -x "$MOFA_WINE32" ] && echo yes || echo no)"
mkdir -p "$(dirname "$template")"
(
  flock 9
  # A file of the system directories written since the template was made
  # (they are shared with the prefixes, linked) makes it stale too.
  if [ "$(cat "$template/.ready" 2>/dev/null)" != "$stamp" ] ||
    [ -n "$(find "$template/drive_c/windows" -newer "$template/.ready" -type f -print -quit)" ]; then
    rm -rf "$template"
    WINEARCH=$arch WINEPREFIX=$template LC_ALL=zh_CN.UTF-8 "$loader" wineboot -i >/dev/null 2>&1
    WINEPREFIX=$template wineserver -w
    # The faces the wizard asks for (宋体, 楷体), mapped to the Chinese fonts
    # installed.
    user_values "$template" 'Software\\Wine\\Fonts\\Replacements' \
      '"\x5b8b\x4f53"="AR PL UMing CN"' '"\x6977\x4f53"="AR PL UKai CN"'
    echo "$stamp" >"$template/.ready"
  fi
) 9>"$template.lock"

rm -rf "$dir"
mkdir -p "$dir"
# The system directories hold most of a prefix (over a gigabyte once SysWOW64
# is filled): their files are linked rather than copied, since neither wine
# nor setup writes into one of wine's own files there (they only add files).
# Everything else, the registry files above all, is copied.
windows=drive_c/windows
tar -C "$template" --exclude=./.ready --exclude="./$windows/system32" --exclude="./$windows/syswow64" -cf - . |
  tar -C "$dir" -xf -
for sub in system32 syswow64; do
  [ -d "$template/$windows/$sub" ] || continue
  [ "$sub" = syswow64 ] && [ "$wow64" = 0 ] && continue
  cp -al "$template/$windows/$sub" "$dir/$windows/" 2>/dev/null || cp -a "$template/$windows/$sub" "$dir/$windows/"
done
if [ "$version" != win7 ]; then
  user_values "$dir" 'Software\\Wine' "\"Version\"=\"$version\""
fi
