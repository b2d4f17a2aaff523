#!/usr/bin/env bash
# Makes a fresh wine prefix for one test from a template prefix that is
# created once (wineboot takes several seconds, a copy about two).
#
#   wine-prefix.sh DIR [--version win7|winxp64|win98] [--no-wow64]
#
# --no-wow64 removes C:\windows\syswow64, which makes setup see 32-bit Windows.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$1; shift
version=win7
wow64=1
while [ $# -gt 0 ]; do
  case $1 in
    --version) version=$2; shift 2 ;;
    --no-wow64) wow64=0; shift ;;
    *) echo "wine-prefix.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

template=${MOFA_WINE_TEMPLATE:-$here/../build/wine/template}
export WINEDEBUG=-all
mkdir -p "$(dirname "$template")"
(
  flock 9
  if [ ! -f "$template/.ready" ]; then
    rm -rf "$template"
    WINEPREFIX=$template LC_ALL=zh_CN.UTF-8 wineboot -i >/dev/null 2>&1
    # The faces the wizard asks for, mapped to the Chinese fonts installed.
    WINEPREFIX=$template wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v '宋体' /d 'AR PL UMing CN' /f >/dev/null 2>&1
    WINEPREFIX=$template wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v '楷体' /d 'AR PL UKai CN' /f >/dev/null 2>&1
    WINEPREFIX=$template wineserver -w
    touch "$template/.ready"
  fi
) 9>"$template.lock"

rm -rf "$dir"
mkdir -p "$(dirname "$dir")"
cp -a "$template" "$dir"
rm -f "$dir/.ready"
if [ "$version" != win7 ]; then
  WINEPREFIX=$dir wine reg add 'HKCU\Software\Wine' /v Version /d "$version" /f >/dev/null 2>&1
  WINEPREFIX=$dir wineserver -w
fi
if [ "$wow64" = 0 ]; then
  rm -rf "$dir/drive_c/windows/syswow64"
fi
