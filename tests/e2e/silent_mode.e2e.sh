#!/usr/bin/env bash
# "setmfsrf32" on the command line runs setup without a window: the program
# ends by itself with exit code 0 and no window ever appears. Capital letters
# on the command line still select the silent run; a word that only resembles
# it opens the wizard, which also shows that the window watch below works.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

e2e_init silent_mode
e2e_prefix
e2e_start_x

WIZARD_TITLES='^智能墨筏系(统安装32(64)?|統安裝)$'

# Runs setup with the given arguments and watches the screen until it ends.
silent_run() {
  local end=$((SECONDS + 30)) polls=0 shot
  e2e_start_setup "$@"
  while e2e_setup_running; do
    if [ -n "$(e2e_windows_named "$WIZARD_TITLES")" ]; then
      e2e_fail "mofasetup.exe $* showed the wizard window"
    fi
    if e2e_box_present; then
      shot=$(e2e_shot "box-$polls" "$E2E_BOX")
      e2e_answer_box
      e2e_fail "mofasetup.exe $* showed a message box ($shot)"
    fi
    ((SECONDS < end)) || e2e_fail "mofasetup.exe $* still running after 30 s"
    polls=$((polls + 1))
    sleep 0.2
  done
  e2e_wait_exit 1
  [ "$E2E_RC" = 0 ] || e2e_fail "mofasetup.exe $* ended with exit code $E2E_RC, expected 0"
  e2e_log "silent run \"$*\" watched $polls times, no window"
}

silent_run setmfsrf32

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
silent_run /Q SETMFSRF32
[ -f "$(e2e_prefix_path 'C:\Program Files\mofahu\mofadat.dat')" ] ||
  e2e_fail "the silent run with SETMFSRF32 installed nothing"

# One character short of the word: the interactive wizard.
e2e_start_setup setmfsrf3
e2e_find_wizard 30
e2e_click 310 257
e2e_wait_exit 5
[ "$E2E_RC" = 0 ] || e2e_fail "exit code $E2E_RC after the exit button, expected 0"
