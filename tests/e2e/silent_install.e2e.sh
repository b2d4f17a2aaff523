#!/usr/bin/env bash
# Silent installs ("setmfsrf32") in fresh prefixes on Windows 7 64-bit, Windows
# 7 32-bit and Windows XP, each checked file by file and value by value, the
# uninstall entry included, and against the install log. On XP an earlier
# version's layout stands in the preload lists and is promoted.
#
# With MOFA_PRODUCT32=1 the same runs are made by the real 32-bit product:
# on 64-bit Windows 7 as a 32-bit process (its registry writes land in the
# 32-bit view), and on 32-bit Windows in prefixes of true 32-bit Windows.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
e2e_init silent_install
e2e_start_x
here=$(cd "$(dirname "$0")" && pwd)
PY=/usr/bin/python3

# What an earlier installation left in the registry, as a .reg file: tokens of
# earlier versions and one that is not ours; with "promotion", the earlier
# version's layout third in the user's preload list and four layouts in
# .DEFAULT's.
seed_registry() {  # seed_registry FILE [promotion]
  local t
  {
    printf 'REGEDIT4\r\n\r\n'
    printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\User Agent\\Post Platform]\r\n'
    for t in tyrk6300 tyrk6400 tyrk6500 tyrk6600 tyrk6700 tyrk6800 tyrk7000 tyrk7100 tyrk7200 tyrk7300 \
      tyrk7400 tyrk7500 tyrk7600 tyrk7700 tyrk7800 tyrk6200; do
      printf '"%s"="old"\r\n' "$t"
    done
    if [ "${2:-}" = promotion ]; then
      printf '\r\n[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Keyboard Layouts\\e0200804]\r\n'
      printf '"layout text"="%s"\r\n"IME file"="MOFAHU4.IME"\r\n' "$(printf '智能墨筏输入平台  6.3' | iconv -f UTF-8 -t GBK)"
      printf '\r\n[-HKEY_CURRENT_USER\\Keyboard Layout\\Preload]\r\n\r\n[HKEY_CURRENT_USER\\Keyboard Layout\\Preload]\r\n'
      printf '"1"="00000409"\r\n"2"="00000804"\r\n"3"="00000411"\r\n"4"="e0200804"\r\n'
      printf '\r\n[-HKEY_USERS\\.DEFAULT\\Keyboard Layout\\Preload]\r\n\r\n[HKEY_USERS\\.DEFAULT\\Keyboard Layout\\Preload]\r\n'
      printf '"1"="00000401"\r\n"2"="00000402"\r\n"3"="00000403"\r\n"4"="00000404"\r\n'
    fi
  } >"$1"
}

install_silently() {  # install_silently SCENARIO PREFIX-OPTIONS...
  local scenario=$1 view=() promotion=
  shift
  e2e_prefix "$@"
  # The earlier values sit in the registry view the program reads.
  [ "$scenario" = win7-wow64 ] && view=(/reg:32)
  [ "$scenario" = winxp ] && promotion=promotion
  seed_registry "$E2E_WORK/earlier.reg" $promotion
  cp "$E2E_WORK/earlier.reg" "$WINEPREFIX/drive_c/earlier.reg"
  wine reg import 'C:\earlier.reg' "${view[@]}" >/dev/null 2>&1 || e2e_fail "$scenario: the earlier values were not imported"
  rm "$WINEPREFIX/drive_c/earlier.reg"
  e2e_silent_run setmfsrf32

  # The server writes the registry files when it ends.
  timeout 15 wineserver -k >/dev/null 2>&1 || true
  "$PY" "$here/check_install.py" "$WINEPREFIX" "$MOFA_PAYLOAD" "$scenario" "$(e2e_log_file)" ||
    e2e_fail "$scenario: the install differs"
  if [ -n "$promotion" ]; then
    "$PY" "$here/check_upgrade.py" "$WINEPREFIX" "$MOFA_PAYLOAD" promotion || e2e_fail "$scenario: the preload lists differ"
  fi
  e2e_log "$scenario: install checked"
}

if e2e_real_product; then
  install_silently win7-wow64
  install_silently win7-32 --win32
  install_silently winxp --win32 --version winxp
else
  install_silently win7-64
  install_silently win7-32 --no-wow64
  install_silently winxp --version winxp64
fi
