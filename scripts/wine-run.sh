#!/usr/bin/env bash
# Runs a program of the 64-bit test build under wine64 (its loader named, not
# `wine`), in the prefix named by
# MOFA_WINEPREFIX (made by wine-prefix.sh), with the Chinese code page.
set -u
# shellcheck source=wine-env.sh
source "$(dirname "$0")/wine-env.sh"
: "${MOFA_WINEPREFIX:?MOFA_WINEPREFIX names the wine prefix to run in}"
export WINEPREFIX=$MOFA_WINEPREFIX
export WINEDEBUG=${WINEDEBUG:--all}
export LC_ALL=${MOFA_LC_ALL:-zh_CN.UTF-8}
exec "$MOFA_WINE64" "$@"
