#!/usr/bin/env bash
# Silent installs ("setmfsrf32") in fresh prefixes on 64-bit Windows 10 (the
# 64-bit build) or 7 (the product), Windows 7 32-bit and Windows XP, each checked file by file and value by value, the
# uninstall entry included, and against the install log. On XP an earlier
# version's layout stands in the preload lists and is promoted.
# Then Windows uses what was installed (the payload's modules and programs
# are stand-ins that leave a line in a marker file, lib.sh): on 64-bit
# Windows the companion program was started with the install directory, and
# after the install a 64-bit and a 32-bit program that activate the layout
# load the 64-bit module from system32 and the 32-bit one from SysWOW64, of
# version 7.9; on true 32-bit XP the 32-bit program loads system32's.
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

# The companion's line: started with regmf32= and the install directory.
COMPANION='^exe c:\\program files\\mofahu\\setupw64\.exe 64 7\.9 setupw64\.exe cmdline "c:\\program files\\mofahu\\setupw64\.exe" regmf32=c:\\program files\\mofahu\\$'
# modules_load SCENARIO: the probes of the scenario's bitnesses load the
# installed modules (64-bit Windows 7, and XP of the real product, which is
# 32-bit XP).
modules_load() {
  case $1 in
    win7-64 | win7-wow64 | win10-64)
      e2e_probe_ime 64
      e2e_marker_has "$(e2e_ime_line 64 mofahu64.ime system32)" || e2e_fail "$1: the 64-bit program did not load system32's 64-bit module: $(cat "$(e2e_marker_file)")"
      if e2e_probe_ime 32; then
        e2e_marker_has "$(e2e_ime_line 32 mofahu4.ime syswow64)" || e2e_fail "$1: the 32-bit program did not load SysWOW64's 32-bit module: $(cat "$(e2e_marker_file)")"
        e2e_marker_has ' file [^ ]*\\windows\\syswow64\\mofahu4\.ime process c:\\imeprobe32' ||
          e2e_fail "$1: the 32-bit module was not mapped from SysWOW64"
      fi
      ;;
    winxp)
      e2e_real_product || return 0
      e2e_probe_ime 32 || return 0
      e2e_marker_has "$(e2e_ime_line 32 mofahu4.ime system32)" || e2e_fail "$1: the 32-bit program did not load system32's module: $(cat "$(e2e_marker_file)")"
      ;;
  esac
  e2e_log "$1: the installed modules load; marker lines: $(tr -d '\r' <"$(e2e_marker_file)" | tr '\n' '|')"
}

install_silently() {  # install_silently SCENARIO PREFIX-OPTIONS...
  local scenario=$1 view=() promotion= wow64=0
  shift
  # Where setup finds 64-bit Windows (the twin takes its XP for 32-bit).
  case $scenario in win7-64 | win7-wow64 | win10-64) wow64=1 ;; esac
  e2e_prefix "$@"
  # The earlier values sit in the registry view the program reads.
  [ "$scenario" = win7-wow64 ] && view=(/reg:32)
  [ "$scenario" = winxp ] && promotion=promotion
  seed_registry "$E2E_WORK/earlier.reg" $promotion
  cp "$E2E_WORK/earlier.reg" "$WINEPREFIX/drive_c/earlier.reg"
  wine reg import 'C:\earlier.reg' "${view[@]}" >/dev/null 2>&1 || e2e_fail "$scenario: the earlier values were not imported"
  rm "$WINEPREFIX/drive_c/earlier.reg"
  e2e_silent_run setmfsrf32
  # Setup does not wait for the companion it started on 64-bit Windows.
  if [ "$wow64" = 1 ]; then
    e2e_wait_marker 15 "$COMPANION" "$scenario: the companion"
  elif e2e_marker_has setupw64; then
    e2e_fail "$scenario: the companion was started on 32-bit Windows"
  fi

  # The server writes the registry files when it ends.
  timeout 15 wineserver -k >/dev/null 2>&1 || true
  # Windows 10 takes the branch of Vista and later, as 7 does.
  "$PY" "$here/check_install.py" "$WINEPREFIX" "$MOFA_PAYLOAD" "${scenario/win10/win7}" "$(e2e_log_file)" ||
    e2e_fail "$scenario: the install differs"
  if [ -n "$promotion" ]; then
    "$PY" "$here/check_upgrade.py" "$WINEPREFIX" "$MOFA_PAYLOAD" promotion || e2e_fail "$scenario: the preload lists differ"
  fi
  e2e_log "$scenario: install checked"
  modules_load "$scenario"
}

if e2e_real_product; then
  install_silently win7-wow64
  install_silently win7-32 --win32
  install_silently winxp --win32 --version winxp
else
  # 64-bit Windows 10 (64-bit Windows 7 is the product's, above). The
  # manifest names Windows 10: Windows tells setup its true version.
  install_silently win10-64 --version win10
  grep -q 'Windows 10\.0 build [0-9]* (NT family), 64-bit' "$(e2e_log_file)" ||
    e2e_fail "win10-64: the log does not name Windows 10.0: $(grep -a '^.\{24\}Windows ' "$(e2e_log_file)")"
  install_silently win7-32 --no-wow64
  install_silently winxp --version winxp64
fi
