#!/usr/bin/env bash
# Silent installs over an earlier version: its layout in the preload list and
# its module held by a running program in the system directories.
#   XP: preload A,B,C,P becomes A,P,B,C in the user's list and values 2 to 4 of
#       .DEFAULT become P,B,C; the held module is moved aside.
#   Windows 7 64-bit: both held modules (SysWOW64 and the native system
#       directory) are moved aside and replaced, and deleted at the next
#       restart; the uninstall entry is written; the exit code asks for the
#       restart (3010). After the restart (wineboot -r) programs load the new
#       modules.
#   Windows 7 64-bit, the earlier module in the native system directory
#       locked so that the new one cannot be copied there: 1603, and the
#       earlier version is as it was (module, registration, no new entries).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
e2e_init preload_upgrade
e2e_start_x
here=$(cd "$(dirname "$0")" && pwd)
HOLD=$MOFA_WIN_TESTS/holdfile.exe
[ -f "$HOLD" ] || e2e_fail "no holdfile.exe at $HOLD"
LAYOUTS='HKLM\System\CurrentControlSet\Control\Keyboard Layouts'

# (Once more after a second: under load wine may fail to start reg.exe itself.)
reg_add() {  # reg_add ARGS...: wine reg add, its output kept, a failure told
  wine reg add "$@" /f >>"$E2E_WORK/reg.log" 2>&1 || { sleep 1; wine reg add "$@" /f >>"$E2E_WORK/reg.log" 2>&1; } ||
    e2e_fail "wine reg add $* failed: $(tail -n 3 "$E2E_WORK/reg.log")"
}

seed_earlier_version() {  # seed_earlier_version PRELOAD-IDS...: the product's earlier layout is e0200804
  reg_add "$LAYOUTS\\e0200804" /v 'layout text' /d '智能墨筏输入平台  6.3'
  reg_add "$LAYOUTS\\e0200804" /v 'IME file' /d 'MOFAHU4.IME'
  local k=1 id
  wine reg delete 'HKCU\keyboard layout\preload' /f >/dev/null 2>&1 || true
  for id in "$@"; do
    reg_add 'HKCU\keyboard layout\preload' /v "$k" /d "$id"
    k=$((k + 1))
  done
  wine reg delete 'HKU\.DEFAULT\keyboard layout\preload' /f >/dev/null 2>&1 || true
  for k in 1 2 3 4; do
    reg_add 'HKU\.DEFAULT\keyboard layout\preload' /v "$k" /d "0000040$k"
  done
}

hold_modules() {  # hold_modules [--lock] WINDOWS-PATH...: a running program holds these earlier modules
  local path lock=()
  if [ "$1" = --lock ]; then
    lock=(--lock)
    shift
  fi
  for path in "$@"; do
    cp "$WINEPREFIX/drive_c/windows/system32/version.dll" "$(e2e_prefix_path "$path")"
  done
  wine "$HOLD" "${lock[@]}" "$@" >"$E2E_WORK/hold.log" 2>&1 &
  local i
  for ((i = 0; i < 100; i++)); do
    grep -q held "$E2E_WORK/hold.log" 2>/dev/null && return 0
    sleep 0.1
  done
  e2e_fail "holdfile.exe did not hold $*: $(cat "$E2E_WORK/hold.log")"
}

install_silently() {  # install_silently SCENARIO EXIT-CODE: the silent install and its checks
  e2e_silent_run --rc "$2" setmfsrf32
  timeout 15 wineserver -k >/dev/null 2>&1 || true
  /usr/bin/python3 "$here/check_upgrade.py" "$WINEPREFIX" "$MOFA_PAYLOAD" "$1" || e2e_fail "$1: the upgrade differs"
  e2e_log "$1: checked"
}

e2e_prefix --version winxp64
seed_earlier_version 00000409 00000804 00000411 e0200804
hold_modules 'C:\windows\system32\mofahu4.ime'
install_silently winxp 0

e2e_prefix
seed_earlier_version 00000409 e0200804
hold_modules 'C:\windows\syswow64\mofahu4.ime' 'C:\windows\system32\mofahu4.ime'
install_silently win7-64 3010
# The restart: the holder is gone (the server ended), wine's restart carries
# out the deletions setup asked for, and programs started afterwards load the
# new modules, 64-bit from system32 and 32-bit from SysWOW64.
timeout $((60 * E2E_PATIENCE)) wine wineboot -r >/dev/null 2>&1 || e2e_fail "win7-64: wineboot -r failed"
for folder in system32 syswow64; do
  [ ! -e "$WINEPREFIX/drive_c/windows/$folder/mofahu2.ime" ] || e2e_fail "win7-64: $folder\\mofahu2.ime outlived the restart"
done
e2e_probe_ime 64
e2e_marker_has "$(e2e_ime_line 64 mofahu64.ime system32)" || e2e_fail "win7-64: after the restart the 64-bit program did not load the new module: $(cat "$(e2e_marker_file)")"
if e2e_probe_ime 32; then
  e2e_marker_has "$(e2e_ime_line 32 mofahu4.ime syswow64)" || e2e_fail "win7-64: after the restart the 32-bit program did not load the new module: $(cat "$(e2e_marker_file)")"
fi
timeout 15 wineserver -k >/dev/null 2>&1 || true
e2e_log "win7-64: the new modules load after the restart"

e2e_prefix
seed_earlier_version 00000409 00000804
hold_modules --lock 'C:\windows\system32\mofahu4.ime'
e2e_silent_run --rc 1603 setmfsrf32
timeout 15 wineserver -k >/dev/null 2>&1 || true
/usr/bin/python3 "$here/check_upgrade.py" "$WINEPREFIX" "$MOFA_PAYLOAD" failed "$(e2e_log_file)" || e2e_fail "failed: the earlier version was not kept"
e2e_log "failed: checked"
