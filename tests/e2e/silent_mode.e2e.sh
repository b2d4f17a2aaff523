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
[ "$E2E_RC" = 0 ] || e2e_fail "exit code $E2E_RC after the exit button, expected 0"
