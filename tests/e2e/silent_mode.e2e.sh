#!/usr/bin/env bash
# "setmfsrf32" on the command line runs setup without a window: the program
# ends by itself with exit code 0 and no window ever appears. So do the
# installers' usual switches; a switch not known, or an install directory
# that cannot be used, ends the run with 87 before anything is written; /?
# shows the switches. /D= and /DIR= choose the install directory; the same
# version installed again leaves the folder and its EstimatedSize as one
# install does. Capital letters
# on the command line still select the silent run; a word that only resembles
# it opens the wizard, which also shows that the window watch below works, and
# leaving it on the splash page ends with 1602. Then the outcomes a script
# reads: 1618 beside a running setup, 1603 for an install directory that
# cannot be made and for a damaged payload, the log where /log= puts it, and
# a log that cannot be written changing nothing.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

e2e_init silent_mode
e2e_prefix
e2e_start_x

# Nothing is written by a run that refuses its command line: no path file, no
# folder; the log names the argument.
nothing_installed() { # WHAT
  local p
  for p in 'C:\windows\mofapath.mfh' 'C:\mofahu' 'C:\Program Files\mofahu' 'C:\Apps'; do
    [ ! -e "$(e2e_prefix_path "$p")" ] || e2e_fail "$1 left $p behind"
  done
}
e2e_silent_run --rc 87 /S /bogus
nothing_installed "/S /bogus"
grep -q 'unknown switch /bogus: nothing is installed' "$(e2e_log_file)" || e2e_fail "the log does not name /bogus"
# Under a Japanese locale (code page 932) the log reads the same.
e2e_silent_run --rc 87 --lc ja_JP.UTF-8 /S '/D=Apps\Mofa'
nothing_installed "a relative /D="
tail -n 4 "$(e2e_log_file)" | grep -q 'Apps\\Mofa不是本机硬盘上的完整路径' || e2e_fail "the log does not say why /D= was refused"
grep -q 'ANSI code page 932$' <(tr -d '\r' <"$(e2e_log_file)") || e2e_fail "the run was not made under code page 932"
# The install folder is opened to every user: never one inside Windows'.
e2e_silent_run --rc 87 /S '/D=C:\Windows\mofa'
nothing_installed "/D= in the Windows folder"
[ ! -e "$(e2e_prefix_path 'C:\windows\mofa')" ] || e2e_fail "/D= in the Windows folder made it"
# /D= not last, and a folder name Windows would strip, are refused as such.
e2e_silent_run --rc 87 /S '/D=C:\A\' /NORESTART
nothing_installed "/D= before another switch"
[ ! -e "$(e2e_prefix_path 'C:\A')" ] || e2e_fail "/D= before another switch made C:\A"
tail -n 4 "$(e2e_log_file)" | grep -q '/NORESTART后面还有其他参数（/D=必须是最后一项）' || e2e_fail "the log does not say /D= was not last"
e2e_silent_run --rc 87 /S '/D=C:\Apps\Mofa \Sub'
nothing_installed "a folder name ending in a blank"
tail -n 4 "$(e2e_log_file)" | grep -q 'Sub中有以空格或句点结尾的文件夹名' || e2e_fail "the log does not say why a trailing blank was refused"
# A directory code page 936 cannot hold: refused for that, and the command
# line logged as typed.
e2e_silent_run --rc 87 /S '/D=C:\Apps\Nguyễn'
nothing_installed "a directory the code page cannot hold"
tail -n 4 "$(e2e_log_file)" | grep -q 'C:\\Apps\\Nguy?n中有本机代码页不能表示的字符' || e2e_fail "the log does not say the code page cannot hold the directory"
grep -q 'command line: .* /S /D=C:\\Apps\\Nguyễn$' <(tr -d '\r' <"$(e2e_log_file)") || e2e_fail "the log does not show the command line as typed"
e2e_start_setup '/?'
e2e_find_box 20 '^智能墨筏安装$'
e2e_shot help-box "$E2E_BOX" >/dev/null
e2e_answer_box
e2e_wait_exit 5
[ "$E2E_RC" = 0 ] || e2e_fail "/? ended with $E2E_RC, expected 0"
grep -q '退出码：0 成功' "$(e2e_log_file)" || e2e_fail "the /? box does not list the exit codes"
nothing_installed "/?"

e2e_silent_run setmfsrf32

# The run recorded the install directory and nothing else in the path file.
want='C:\Program Files\mofahu\'
got=$(e2e_read_prefix_file 'C:\windows\mofapath.mfh')
[ "$got" = "$want" ] || e2e_fail "mofapath.mfh holds \"$got\", expected \"$want\""

# The run installed without a window: extracted files and settings files are
# in the install directory.
for f in mofatyrk.exe mofadat.dat; do
  [ -f "$(e2e_prefix_path "C:\\Program Files\\mofahu\\$f")" ] ||
    e2e_fail "the silent run left no $f in C:\\Program Files\\mofahu"
done

# The same version again is a repair: the same files, of the same sizes, and
# the same EstimatedSize, which is the folder's KB.
install_state() { # FOLDER
  timeout 15 wineserver -k >/dev/null 2>&1 || true
  (cd "$(e2e_prefix_path "$1")" && find . -type f -printf '%p %s\n' | sort)
  /usr/bin/python3 -c "import sys; sys.path.insert(0, sys.argv[2]); from winreg import read_hive
print('EstimatedSize', read_hive(sys.argv[1], 'HKLM')['software\\\\microsoft\\\\windows\\\\currentversion\\\\uninstall\\\\mofaxwb'].get('estimatedsize'))" \
    "$WINEPREFIX" "$(dirname "$0")"
}
install_state 'C:\Program Files\mofahu' >"$E2E_WORK/state1"
e2e_silent_run /VERYSILENT /SUPPRESSMSGBOXES /NORESTART
install_state 'C:\Program Files\mofahu' >"$E2E_WORK/state2"
# A repair that succeeds logs nothing as failed (the run folder it removes
# included).
if tr -d '\r' <"$(e2e_log_file)" | tac | sed '/---- log opened/q' | grep ' failed'; then
  e2e_fail "a successful repair logged a failure"
fi
diff "$E2E_WORK/state1" "$E2E_WORK/state2" >&2 || e2e_fail "a second install of the same version left another state"
kb=$(awk '$1 ~ /^\.\/[^\/]*$/ { s += $2 } END { print int((s + 1023) / 1024) }' "$E2E_WORK/state2")
grep -qx "EstimatedSize ('REG_DWORD', $kb)" "$E2E_WORK/state2" || e2e_fail "EstimatedSize is not the folder's $kb KB"

# /D= (last, blanks and all) and /DIR="..." install there: the path files
# name the folder. The quoted form goes through a batch file, which hands
# the command line over as written. A path or a log's name that holds a run
# mode's word is a path: the install is silent, the log where it was sent.
e2e_silent_run /S '/LOG=C:\regmf32.log' '/D=C:\Apps\regmf32\My Mofa'
for f in 'C:\windows\mofapath.mfh' 'C:\mofahu\mofapath.mfh'; do
  [ "$(e2e_read_prefix_file "$f")" = 'C:\Apps\regmf32\My Mofa\' ] || e2e_fail "/D=: $f does not name C:\Apps\regmf32\My Mofa"
done
[ -f "$(e2e_prefix_path 'C:\Apps\regmf32\My Mofa\mofadat.dat')" ] || e2e_fail "/D= installed nothing in C:\Apps\regmf32\My Mofa"
grep -q 'silent run; command line' "$(e2e_prefix_path 'C:\regmf32.log')" || e2e_fail "no silent run logged in C:\regmf32.log"
cp "$MOFA_EXE" "$WINEPREFIX/drive_c/mofasetup.exe"
printf '@C:\\mofasetup.exe /VERYSILENT /DIR="C:\\Apps\\Mofa"\r\n' >"$WINEPREFIX/drive_c/dir.bat"
MOFA_EXE=cmd e2e_silent_run /c 'C:\dir.bat'
[ "$(e2e_read_prefix_file 'C:\windows\mofapath.mfh')" = 'C:\Apps\Mofa\' ] || e2e_fail "/DIR=: the path file does not name C:\Apps\Mofa"
[ -f "$(e2e_prefix_path 'C:\Apps\Mofa\mofatyrk.exe')" ] || e2e_fail "/DIR= installed nothing in C:\Apps\Mofa"

rm -rf "$(e2e_prefix_path 'C:\Program Files\mofahu')"
e2e_silent_run /Q SETMFSRF32
[ -f "$(e2e_prefix_path 'C:\Program Files\mofahu\mofadat.dat')" ] ||
  e2e_fail "the silent run with SETMFSRF32 installed nothing"

# One character short of the word, and the word inside /D='s path: the
# interactive wizard.
e2e_start_setup setmfsrf3 '/D=C:\setmfsrf32\'
e2e_find_wizard 30
e2e_click 310 257
e2e_wait_exit 5
[ "$E2E_RC" = "$(e2e_exit_byte 1602)" ] || e2e_fail "exit code $E2E_RC after the exit button, expected 1602"

# --- outcomes a deployment script reads: exit codes and the log ---------------
log=$(e2e_log_file)

# Another setup of the product runs (the wizard here): 1618 at once, no box.
e2e_start_setup
e2e_find_wizard 30
rc=0
timeout 30 "$MOFA_WINE" "$MOFA_EXE" setmfsrf32 >/dev/null 2>&1 || rc=$?
[ "$rc" = "$(e2e_exit_byte 1618)" ] || e2e_fail "a second setup ended with $rc, expected 1618"
! e2e_box_present || e2e_fail "the second setup showed a message box"
e2e_click 310 257
e2e_wait_exit 5

# The install directory cannot be made (a file has its name): 1603, and the
# log says why. The log goes where /log= names (wine quotes the word for its
# blank).
rm -rf "$(e2e_prefix_path 'C:\Program Files\mofahu')"
echo "not a folder" >"$(e2e_prefix_path 'C:\Program Files\mofahu')"
mkdir -p "$(e2e_prefix_path 'C:\my logs')"
e2e_silent_run --rc 1603 setmfsrf32 '/log=C:\my logs\setup.log'
grep -q '不能创建安装目录C:\\Program Files\\mofahu\\' "$(e2e_prefix_path 'C:\my logs\setup.log')" ||
  e2e_fail "the log does not say that the install directory could not be made"
tr -d '\r' <"$(e2e_prefix_path 'C:\my logs\setup.log')" | grep -q 'exit code 1603$' ||
  e2e_fail "the log does not end with exit code 1603"
rm -f "$(e2e_prefix_path 'C:\Program Files\mofahu')"

# A log that cannot be opened where /log= says (no such folder, a folder of
# that name) goes to the default place, whose first line says why; the
# install goes on.
rm -f "$log"
e2e_silent_run setmfsrf32 '/log=C:\no\such\folder\setup.log'
[ -f "$(e2e_prefix_path 'C:\Program Files\mofahu\mofahu4.ime')" ] || e2e_fail "with no log, nothing was installed"
head -n 1 "$log" | grep -q 'log opened here, not at C:\\no\\such\\folder\\setup.log: error 3 ' || e2e_fail "the default log does not say why: $(head -n 1 "$log")"
grep -q 'exit code 0' "$log" || e2e_fail "the default log does not have the run"
rm -f "$log"
e2e_silent_run setmfsrf32 '/log=C:\my logs'
head -n 1 "$log" | grep -q 'log opened here, not at C:\\my logs: error ' || e2e_fail "a folder as the log's place: $(head -n 1 "$log")"

# A damaged payload entry: 1603, no box at any moment (the message is
# logged), the payload is checked before anything is written, and the log
# ends with the failure naming the entry.
damaged=$E2E_WORK/damaged-mofasetup.exe
/usr/bin/python3 -c "import sys; sys.path.insert(0, '$(dirname "$0")'); from payload import damage_entry
damage_entry(*sys.argv[1:])" "$MOFA_EXE" "$MOFA_PAYLOAD" wb1.swf "$damaged"
: >"$log"
MOFA_EXE=$damaged e2e_silent_run --rc 1603 setmfsrf32
grep -q 'wb1.swf' "$log" || e2e_fail "the log does not name the damaged entry"
[ "$(tr -d '\r' <"$log" | tail -n 2 | head -n 1 | cut -d' ' -f3-)" = \
  "failure: step payload check: could not verify the payload entry wb1.swf" ] ||
  e2e_fail "the log does not end with the failure naming the damaged entry"
changes=$(sed -n '/plan: the silent install begins/,$p' "$log" | grep -c 'file written\|folder created\|registry' || true)
[ "$changes" = 0 ] || e2e_fail "a damaged payload changed the machine ($changes changes logged)"
