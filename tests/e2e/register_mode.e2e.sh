#!/usr/bin/env bash
# The 32-bit registration mode that the 64-bit companion program starts:
# "regmf32=" and the install directory, spaces included, as the install
# sequence passes it; a directory that does not exist is refused. On 32-bit
# Windows the word has no effect of its own and the wizard opens.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
e2e_init register_mode
e2e_start_x
LAYOUTS='System\CurrentControlSet\Control\Keyboard Layouts'

registers_only() {  # registers_only WORDS...: the registration message, no install
  e2e_start_setup "$@"
  e2e_find_box 20 '^智能墨筏$'
  e2e_shot "registered-$E2E_SHOT_N" "$E2E_BOX" >/dev/null
  E2E_SHOT_N=$((E2E_SHOT_N + 1))
  e2e_answer_box
  e2e_wait_exit 10
  [ "$E2E_RC" = 0 ] || e2e_fail "exit code $E2E_RC"
  [ ! -d "$(e2e_prefix_path 'C:\Program Files\mofahu')" ] || e2e_fail "registration mode ran an install"
}
E2E_SHOT_N=1

# The hand-off as the install sequence forms it: wine joins the words with
# single spaces, so the program sees "regmf32=C:\Tools Dir\mofahu\".
e2e_prefix
mkdir -p "$(e2e_prefix_path 'C:\Tools Dir\mofahu')"
registers_only 'regmf32=C:\Tools' 'Dir\mofahu\'
recorded=$(e2e_read_prefix_file 'C:\windows\mofapath.mfh')
[ "$recorded" = 'C:\Tools Dir\mofahu\' ] || e2e_fail "path file holds '$recorded'"
[ "$(e2e_read_prefix_file 'C:\mofahu\mofapath.mfh')" = "$recorded" ] || e2e_fail "second path file differs"
timeout 15 wineserver -k >/dev/null 2>&1 || true
/usr/bin/python3 - "$WINEPREFIX" "$(dirname "$0")" "$LAYOUTS" <<'PY' || e2e_fail "no layout registered"
import sys
sys.path.insert(0, sys.argv[2])
from winreg import read_hive
keys = read_hive(sys.argv[1], 'HKLM')
prefix = sys.argv[3].lower() + '\\'
found = [k for k, v in keys.items() if k.startswith(prefix) and v.get('layout text', (None, ''))[1] == '智能墨筏输入平台  7.9']
print('registered layouts:', found)
sys.exit(0 if found else 1)
PY

# A directory handed over that does not exist is refused: no message, no
# layout registered, and the path file does not name it.
e2e_prefix
e2e_silent_run --rc 1603 'regmf32=C:\No Such\mofahu\'
# (Nothing else writes the path file: it is absent or holds something else.)
[ "$(cat "$(e2e_prefix_path 'C:\windows\mofapath.mfh')" 2>/dev/null)" != 'C:\No Such\mofahu\' ] ||
  e2e_fail "the refused directory was recorded"
timeout 15 wineserver -k >/dev/null 2>&1 || true
/usr/bin/python3 - "$WINEPREFIX" "$(dirname "$0")" "$LAYOUTS" <<'PY' || e2e_fail "a layout was registered for a refused directory"
import sys
sys.path.insert(0, sys.argv[2])
from winreg import read_hive
keys = read_hive(sys.argv[1], 'HKLM')
prefix = sys.argv[3].lower() + '\\'
sys.exit(1 if [k for k, v in keys.items() if k.startswith(prefix) and v.get('layout text', (None, ''))[1].startswith('智能墨筏')] else 0)
PY
wineserver -p

# Both words: registration only. Only the first "r" of the command line is
# tried for "regmf32=", and here it is the one inside "setmfsrf32": the
# install directory stays the default.
registers_only setmfsrf32 'regmf32=C:\Tools\mofahu\'
[ "$(e2e_read_prefix_file 'C:\windows\mofapath.mfh')" = 'C:\Program Files\mofahu\' ] ||
  e2e_fail "the directory after the second r was taken"

# 32-bit Windows: the wizard opens.
e2e_prefix --no-wow64
e2e_start_setup 'regmf32=C:\Elsewhere\'
e2e_find_wizard 20
e2e_wait_page splash 10 >/dev/null
e2e_click 300 257
e2e_wait_exit 10
# The wizard left before installing: no path file names the directory.
[ "$(cat "$(e2e_prefix_path 'C:\windows\mofapath.mfh')" 2>/dev/null)" != 'C:\Elsewhere\' ] ||
  e2e_fail "32-bit Windows took the directory"
