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

# The system's input.dll stood in on Vista and later (XP has none).
place_input_dll() {  # place_input_dll SCENARIO
  [ "$1" = winxp ] || e2e_place_input_dll
}

INPUT_LIST='HKCU\Control Panel\International\User Profile\zh-Hans-CN'
SIGNIN_ENTRY='Software\Microsoft\Active Setup\Installed Components\{F3951D3A-9E0F-4286-B337-2F0115AACDC9}'
input_calls() { tr -d '\r' <"$WINEPREFIX/drive_c/windows/temp/inputdll.log" 2>/dev/null || true; }
# The sign-in entry's command (the prefix's server ended first).
signin_command() {  # signin_command SCENARIO
  local key=$SIGNIN_ENTRY
  [ "$1" = win7-wow64 ] && key=${key/Software\\/Software\\Wow6432Node\\}
  "$PY" -c 'import sys; sys.path.insert(0, sys.argv[1]); import winreg
v = winreg.value(sys.argv[2], "HKLM", sys.argv[3], "StubPath"); print(v[1] if v else "")' "$here" "$WINEPREFIX" "$key"
}

# The user who installs has the layout in the list Windows 8 and later keep
# (one call, flags 0, by the program's own bitness); XP's has the preload
# entry only, and the log says why no call was made.
check_enabled() {  # check_enabled SCENARIO KLID
  local bits=64
  e2e_real_product && bits=32
  if [ "$1" = winxp ]; then
    [ -z "$(input_calls)" ] || e2e_fail "$1: input.dll was called on XP: $(input_calls)"
    grep -aq "InstallLayoutOrTip(\"0804:$2\", 0): not called: no such function" "$(e2e_log_file)" ||
      e2e_fail "$1: the log does not say why InstallLayoutOrTip was not called"
    return 0
  fi
  [ "$(input_calls)" = "InstallLayoutOrTip 0804:$2 0x0 $bits-bit -> 1" ] ||
    e2e_fail "$1: input.dll's calls are not one InstallLayoutOrTip(0804:$2, 0): $(input_calls)"
  grep -aq "InstallLayoutOrTip(\"0804:$2\", 0): TRUE" "$(e2e_log_file)" || e2e_fail "$1: the log does not name the call"
  wine reg query "$INPUT_LIST" /v "0804:$2" >/dev/null 2>&1 || e2e_fail "$1: 0804:$2 is not in the user's list"
  e2e_log "$1: enabled for the user who installed: $(input_calls)"
}

# As a user who signs in for the first time after the install: Windows runs
# the entry's command; no window, ended 0 within 10 s. The copy of setup it
# names runs, from where the install put it.
sign_in() {  # sign_in SCENARIO COMMAND WHAT
  local program=${2%\" *} args=${2##*\" }
  program=${program#\"}
  rm -f "$WINEPREFIX/drive_c/windows/temp/inputdll.log"
  MOFA_EXE=$(e2e_prefix_path "$program") E2E_SILENT_SECONDS=10 e2e_silent_run $args
  grep -aq "sign-in run; command line: .*mofauser\.exe\"\? $args" "$(e2e_log_file)" ||
    e2e_fail "$1: $3: the sign-in run left no line of its own in the user's log"
}

# The sign-in step: a user with nothing of the product gets it; once the
# product is gone (its layout key), the layout leaves that user's list and
# nothing else changes; on XP the preload entry is written.
check_sign_in() {  # check_sign_in SCENARIO KLID
  local command
  command=$(signin_command "$1")
  [ -n "$command" ] || e2e_fail "$1: no sign-in command"
  if [ "$1" = winxp ]; then
    wine reg delete 'HKCU\Keyboard Layout\Preload' /f >/dev/null 2>&1
    sign_in "$1" "$command" "a new user on XP"
    wine reg query 'HKCU\Keyboard Layout\Preload' 2>/dev/null | tr -d '\r' | grep -qi " ${2}\$" ||
      e2e_fail "$1: the sign-in step did not add ${2} to the preload list: $(wine reg query 'HKCU\Keyboard Layout\Preload' 2>&1)"
    e2e_log "$1: a new user's sign-in wrote the preload entry"
    return 0
  fi
  wine reg delete "${INPUT_LIST%\\*}" /f >/dev/null 2>&1
  sign_in "$1" "$command" "a new user"
  [ "$(input_calls)" = "InstallLayoutOrTip 0804:$2 0x0 64-bit -> 1" ] || e2e_fail "$1: a new user's sign-in made: $(input_calls)"
  wine reg query "$INPUT_LIST" /v "0804:$2" >/dev/null 2>&1 || e2e_fail "$1: a new user's sign-in left 0804:$2 out"
  wine reg add "$INPUT_LIST" /v 0409:00000409 /t REG_DWORD /d 2 /f >/dev/null 2>&1
  wine reg delete "HKLM\\System\\CurrentControlSet\\Control\\Keyboard Layouts\\$2" /f >/dev/null 2>&1
  sign_in "$1" "$command" "the product gone"
  [ "$(input_calls)" = "InstallLayoutOrTip 0804:$2 0x1 64-bit -> 1" ] || e2e_fail "$1: with the product gone the sign-in made: $(input_calls)"
  ! wine reg query "$INPUT_LIST" /v "0804:$2" >/dev/null 2>&1 || e2e_fail "$1: with the product gone 0804:$2 stays listed"
  wine reg query "$INPUT_LIST" /v 0409:00000409 >/dev/null 2>&1 || e2e_fail "$1: the sign-in took out another input method"
  e2e_log "$1: a new user's sign-in enabled the layout; with the product gone it left the list alone but for it"
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
  place_input_dll "$scenario"
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
  local klid
  klid=$(signin_command "$scenario")
  klid=${klid##*=}
  check_enabled "$scenario" "$klid"
  modules_load "$scenario"
  # The sign-in step where it runs here: the 64-bit twin's.
  e2e_real_product || [ "$scenario" = win7-32 ] || check_sign_in "$scenario" "$klid"
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
