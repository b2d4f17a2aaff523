#!/usr/bin/env bash
# The 32-bit registration mode that the 64-bit companion program starts:
# "regmf32=" and the install directory, spaces included, as the install
# sequence passes it. A directory that /D= would refuse, or that does not hold
# the product's modules, is refused at once with nothing written; handed back
# from a silent install it shows no box. On 32-bit Windows the word has no
# effect of its own and the wizard opens.
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
product_modules() {  # product_modules WINDOWS-DIR: the modules an install leaves there
  mkdir -p "$(e2e_prefix_path "$1")"
  local m
  for m in mofahu4.ime mofahu64.ime; do echo "$m" >"$(e2e_prefix_path "$1\\$m")"; done
}
e2e_prefix
product_modules 'C:\Tools Dir\mofahu'
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

# Directories handed over that are refused, each at once: the Windows folder,
# a relative one (that exists), one climbing with "..", one that does not
# exist and one without the product's modules. No message, no layout
# registered, and the path files as they were.
e2e_prefix
product_modules 'C:\foo'
mkdir -p "$(e2e_prefix_path 'C:\Empty')"
for f in 'C:\windows\mofapath.mfh' 'C:\mofahu\mofapath.mfh'; do
  mkdir -p "$(dirname "$(e2e_prefix_path "$f")")"
  printf 'C:\\Earlier\\mofahu\\' >"$(e2e_prefix_path "$f")"
done
for dir in 'C:\windows' foo 'C:\X\..\windows\system32' 'C:\No Such\mofahu\' 'C:\Empty\'; do
  E2E_SILENT_SECONDS=10 e2e_silent_run --rc 1603 "regmf32=$dir"
  grep -qF "the directory handed over is refused: $dir" <(tr -d '\r' <"$(e2e_log_file)") || e2e_fail "the log does not say why $dir was refused"
done
for f in 'C:\windows\mofapath.mfh' 'C:\mofahu\mofapath.mfh'; do
  [ "$(e2e_read_prefix_file "$f")" = 'C:\Earlier\mofahu\' ] || e2e_fail "a refused run changed $f: $(e2e_read_prefix_file "$f")"
done
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

# The hand-back after a silent install inherits its word that nobody is
# there: the registration shows no box and ends by itself.
e2e_silent_run setmfsrf32
MOFASETUP_SILENT=1 E2E_SILENT_SECONDS=20 e2e_silent_run 'regmf32=C:\Program Files\mofahu\'
# (The argument, quoted for its blank, ends in a backslash that wine doubles
# before the quote: the directory is recorded once, as it was given.)
grep -q '32-bit registration run' <(tail -n 12 "$(e2e_log_file)") || e2e_fail "the hand-back was no registration"
grep -q '智能墨筏已安装成功' <(tail -n 12 "$(e2e_log_file)") || e2e_fail "the registration's message is not in the log"
[ "$(e2e_read_prefix_file 'C:\windows\mofapath.mfh')" = 'C:\Program Files\mofahu\' ] ||
  e2e_fail "the hand-back recorded $(e2e_read_prefix_file 'C:\windows\mofapath.mfh')"

# 32-bit Windows: the wizard opens.
e2e_prefix --no-wow64
e2e_start_setup 'regmf32=C:\Elsewhere\'
e2e_find_wizard 20
e2e_wait_page splash 10 >/dev/null
e2e_click 300 257
e2e_wait_exit 10
# Nothing is recorded by a wizard left before the install.
[ ! -e "$(e2e_prefix_path 'C:\windows\mofapath.mfh')" ] || e2e_fail "32-bit Windows recorded a directory: $(e2e_read_prefix_file 'C:\windows\mofapath.mfh')"
