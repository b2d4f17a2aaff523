#!/usr/bin/env bash
# Silent installs ("setmfsrf32") in fresh prefixes on Windows 7 64-bit, Windows
# 7 32-bit and Windows XP, each checked file by file and value by value, the
# uninstall entry included, and against the install log.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
e2e_init silent_install
e2e_start_x
here=$(cd "$(dirname "$0")" && pwd)
PY=/usr/bin/python3

POST='HKLM\Software\Microsoft\Windows\CurrentVersion\Internet Settings\User Agent\Post Platform'

install_silently() {  # install_silently SCENARIO PREFIX-OPTIONS...
  local scenario=$1
  shift
  e2e_prefix "$@"
  # Tokens of earlier versions, and one that is not ours.
  local t
  for t in tyrk6300 tyrk6400 tyrk6500 tyrk6600 tyrk6700 tyrk6800 tyrk7000 tyrk7100 tyrk7200 tyrk7300 \
    tyrk7400 tyrk7500 tyrk7600 tyrk7700 tyrk7800 tyrk6200; do
    wine reg add "$POST" /v "$t" /d old /f >/dev/null 2>&1
  done
  e2e_silent_run setmfsrf32

  # The server writes the registry files when it ends.
  timeout 15 wineserver -k >/dev/null 2>&1 || true
  "$PY" "$here/check_install.py" "$WINEPREFIX" "$MOFA_PAYLOAD" "$scenario" "$(e2e_log_file)" ||
    e2e_fail "$scenario: the install differs"
  e2e_log "$scenario: install checked"
}

install_silently win7-64
install_silently win7-32 --no-wow64
install_silently winxp --version winxp64
