#!/usr/bin/env bash
# "setmfsrf32" on the command line runs setup without a window: the program
# ends by itself with exit code 0 and no window ever appears. Capital letters
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

rm -rf "$(e2e_prefix_path 'C:\Program Files\mofahu')"
e2e_silent_run /Q SETMFSRF32
[ -f "$(e2e_prefix_path 'C:\Program Files\mofahu\mofadat.dat')" ] ||
  e2e_fail "the silent run with SETMFSRF32 installed nothing"

# One character short of the word: the interactive wizard.
e2e_start_setup setmfsrf3
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

# A log that cannot be written changes nothing else.
e2e_silent_run setmfsrf32 '/log=C:\no\such\folder\setup.log'
[ -f "$(e2e_prefix_path 'C:\Program Files\mofahu\mofahu4.ime')" ] || e2e_fail "with no log, nothing was installed"

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
