#!/usr/bin/env bash
# Upgrades as a user makes them, walked by real clicks on 64-bit Windows 7
# (with MOFA_PRODUCT32=1 the real 32-bit product walks the first, keep):
#   keep:    an earlier installation in C:\Program Files\mofahu\ (path file,
#            user files of known bytes, a whole skin); clicks on the
#            wizard's buttons while the keep-data question is shown do
#            nothing; Yes to keeping the data: every backed-up file comes back with its bytes (the phrase
#            file sealed), the count is shown, no skin dialog, and the try-it
#            page follows 1.6 s later; its exit button runs the report (a
#            whole install: nothing) and the closing message.
#   discard: the same, No: the payload's files stay, nothing is restored, the
#            skin dialog is shown.
#   fresh:   no earlier installation; "双窗口" and "粉色瓷面" chosen in the
#            dialog: the configuration record's byte 0 is 4 and the pink
#            skin's files are in place.
# The texts of the message boxes come from wine's msgbox trace in setup.log.
set -euo pipefail
export WINEDEBUG=-all,+msgbox
source "$(dirname "$0")/lib.sh"
e2e_init upgrade
e2e_start_x
here=$(cd "$(dirname "$0")" && pwd)
PY=/usr/bin/python3
HOLD=$MOFA_WIN_TESTS/holdfile.exe
MARKER=$MOFA_WIN_TESTS/marker.exe
[ -f "$HOLD" ] && [ -f "$MARKER" ] || e2e_fail "no holdfile.exe or marker.exe beside the tests"
# A tmpfs mounted for the full-disk case goes when the test ends.
UNMOUNT=
e2e_extra_cleanup() { if [ -n "$UNMOUNT" ]; then umount "$UNMOUNT" 2>/dev/null || true; fi; }

INSTALL='C:\Program Files\mofahu\'
SKIN_TITLE='^智能墨筏皮肤及窗口模式选择$'
KEEP_QUESTION='检测到安装目录下有智能墨筏以前的词组等数据文件，是否保留？'
CLOSING='安装完毕，如不能使用，请重新启动计算机！'

# The message texts shown so far, one a line (\r and \n written as such).
shown_texts() {
  "$PY" - "$E2E_WORK/setup.log" <<'PY'
import re, sys
for line in open(sys.argv[1], encoding='utf-8', errors='replace'):
    m = re.search(r'trace:msgbox:MSGBOX_OnInit L"(.*)"\s*$', line)
    if not m:
        continue
    s, out, i = m.group(1), [], 0
    while i < len(s):
        if s[i] == '\\' and i + 1 < len(s):
            c = s[i + 1]
            if c in 'nrt':
                out.append({'n': '\\n', 'r': '\\r', 't': '\\t'}[c])
                i += 2
                continue
            if re.match(r'[0-9a-fA-F]{4}', s[i + 1:i + 5]):
                out.append(chr(int(s[i + 1:i + 5], 16)))
                i += 5
                continue
            out.append(c)
            i += 2
            continue
        out.append(s[i])
        i += 1
    print(''.join(out))
PY
}

# The earlier installation: the path file and the user's files. Every file
# carries its own name; the phrase file's last word lacks its "; ".
#   seed_earlier [DIR [PATH-FILE-TEXT|none]]   (default: INSTALL, recorded as it is)
seed_earlier() {
  local install=${1:-$INSTALL} recorded=${2-${1:-$INSTALL}} dir name
  dir=$(e2e_prefix_path "$install")
  mkdir -p "$dir"
  if [ "$recorded" != none ]; then printf '%s' "$recorded" >"$(e2e_prefix_path 'C:\windows\mofapath.mfh')"; fi
  for name in mfszsj43.mfh cfontset.mfh cwbzlcz1.mfh mfwbcmxz.mfh mfdhzcm.mfh mofadhz.mfh mfgbkhz.mfh \
    mofadwdw.txt mofazdym.mfh mfpyzdym.mfh mfwbpy.txt mofaynhz.txt mofazdfh.mfh userck.txt delck.txt \
    ftmfzdym.txt ftpyzdym.txt cwb.ov1 mofapymb.ov1 mfgbkbh.mfh mfszsj05.mfh mfszsj06.mfh; do
    printf 'earlier %s\r\n' "$name" >"$dir/$name"
    head -c 3000 /dev/urandom >>"$dir/$name"
  done
  # The earlier configuration record: a mode of the user's own.
  printf '\x04user record' >"$dir/mfszsj43.mfh"
  printf '\xd6\xd0\xb9\xfa; \xc8\xcb\xc3\xf1; \xb5\xe7\xc4\xd4\xc8\xed\xbc\xfe' >"$dir/mofacyzk.mfh"
  for name in mfbmp8.mfh mfbmpsx1.bmp mfbmpsx2.bmp mfbmpsx3.bmp mfbmpsx4.bmp mfbmpsx5.bmp mfbmpsx6.bmp mfbmpsx7.bmp; do
    printf 'the user skin %s' "$name" >"$dir/$name"
  done
  rm -rf "$E2E_WORK/before"
  cp -a "$dir" "$E2E_WORK/before"
}

# Clicks a control of the skin dialog by its dialog-unit rectangle: the X
# window is the dialog's client area, 219 x 140 dialog units.
click_dialog_unit() { # WINDOW X Y W H
  local geometry w h
  geometry=$(xdotool getwindowgeometry --shell "$1")
  w=$(sed -n 's/^WIDTH=//p' <<<"$geometry")
  h=$(sed -n 's/^HEIGHT=//p' <<<"$geometry")
  xdotool mousemove --window "$1" $(((2 * $2 + $4) * w / 438)) $(((2 * $3 + $5) * h / 280)) click 1 ||
    e2e_fail "cannot click in the skin dialog"
  sleep 0.3
}

# A screenshot of the dialog; import has been seen to hang on a dialog just
# clicked, so it gets a bounded time and may be skipped.
dialog_shot() { # WINDOW NAME
  timeout 10 import -window "$1" "$E2E_SHOTS/$2.png" 2>>"$E2E_WORK/import.log" || e2e_log "no screenshot $2"
}

# A click on the wizard at client (X, Y) while a message box is shown; fails
# when the box covers that point (the click would not reach the wizard).
click_wizard_behind_box() { # X Y
  local under
  xdotool mousemove --window "$E2E_WINDOW" $(($1 + E2E_DX)) $(($2 + E2E_DY))
  sleep 0.1
  under=$(xdotool getmouselocation --shell | sed -n 's/^WINDOW=//p')
  [ "$under" = "$E2E_WINDOW" ] || e2e_fail "the message box covers the wizard at ($1,$2)"
  xdotool click 1
  sleep 0.3
}

# Walks the wizard to the install and on to the end. KEEP (y or n) answers
# the keep-data question; CHOICE ("mode skin" as dialog-unit rectangles or
# "ok") is what to do in the skin dialog. Sets DIALOG_SHOWN, TRYIT_DELAY.
walk() { # SCENARIO KEEP CHOICE...
  local scenario=$1 keep=$2 end text started=0 closed_at=0 now i page begun=0 odd=
  shift 2
  DIALOG_SHOWN=0
  TRYIT_DELAY=
  e2e_start_setup
  e2e_find_wizard 30
  e2e_wait_page splash 15 "$scenario-splash" >/dev/null
  e2e_click 90 257
  e2e_wait_page site 10 "$scenario-site" >/dev/null
  e2e_click 90 257
  e2e_wait_page confirm 10 "$scenario-confirm" >/dev/null
  e2e_click 90 257
  end=$((SECONDS + 90 * E2E_PATIENCE))
  while e2e_setup_running; do
    ((SECONDS < end)) || e2e_fail "$scenario: still running $((90 * E2E_PATIENCE)) s after the install was confirmed"
    if e2e_box_present; then
      begun=1
      text=$(shown_texts | tail -n 1)
      e2e_log "$scenario: message \"$text\""
      e2e_shot "$scenario-box-$started" "$E2E_BOX" >/dev/null
      started=$((started + 1))
      if [ "$text" = "$KEEP_QUESTION" ]; then
        # The install is under way behind the question: the wizard's exit
        # and OK buttons take no click meanwhile.
        click_wizard_behind_box 310 257
        click_wizard_behind_box 90 257
      fi
      if [ "$text" = "$KEEP_QUESTION" ] && [ "$keep" = n ]; then e2e_answer_box "$E2E_BOX" n; else e2e_answer_box; fi
      closed_at=$(date +%s%N)
      continue
    fi
    local dialog
    dialog=$(e2e_windows_named "$SKIN_TITLE" | head -n 1)
    if [ -n "$dialog" ]; then
      begun=1
      DIALOG_SHOWN=$((DIALOG_SHOWN + 1))
      ((DIALOG_SHOWN < 3)) || e2e_fail "$scenario: the skin dialog stays open after OK"
      dialog_shot "$dialog" "$scenario-skin-dialog"
      # Esc leaves the dialog open.
      xdotool mousemove --window "$dialog" 2 2 click 1
      e2e_key Escape
      sleep 0.5
      [ -n "$(e2e_windows_named "$SKIN_TITLE")" ] || e2e_fail "$scenario: Esc closed the skin dialog"
      if [ "$1" != ok ]; then
        click_dialog_unit "$dialog" $1
        click_dialog_unit "$dialog" $2
      fi
      dialog_shot "$dialog" "$scenario-skin-chosen"
      click_dialog_unit "$dialog" 88 117 44 14
      closed_at=$(date +%s%N)
      for ((i = 0; i < 30; i++)); do
        [ -n "$(e2e_windows_named "$SKIN_TITLE")" ] || break
        sleep 0.1
      done
      continue
    fi
    now=$(e2e_shot "$scenario-current" 2>/dev/null) || break
    page=$(e2e_page_of "$now" 2>/dev/null || true)
    # Once the install has begun, the wizard shows the progress page until
    # the try-it page: never the confirm page again, nor unpainted areas.
    case $page in
      progress | tryit | "") begun=1 odd= ;;
      confirm) [ "$begun" = 0 ] || e2e_fail "$scenario: the wizard showed the confirm page during the install" ;;
      *)
        # A box or the dialog that came up since the look above covers it.
        if e2e_box_present || [ -n "$(e2e_windows_named "$SKIN_TITLE")" ]; then continue; fi
        # Where one has just closed, the X server shows what it covered until
        # the wizard's thread takes its next message and repaints: look again.
        if (($(date +%s%N) - closed_at < 2000000000)); then
          sleep 0.3
          continue
        fi
        # A screenshot can catch the wizard between two pages, half painted:
        # only a page that is still there a moment later is a fault.
        if [ "$odd" != "$page" ]; then
          odd=$page
          sleep 0.3
          continue
        fi
        e2e_fail "$scenario: the wizard showed the $page page during the install"
        ;;
    esac
    if [ "$page" = tryit ]; then
      if [ -z "$TRYIT_DELAY" ]; then
        TRYIT_DELAY=$((($(date +%s%N) - closed_at) / 1000000))
        e2e_shot "$scenario-tryit" >/dev/null
        e2e_log "$scenario: try-it page ${TRYIT_DELAY} ms after the last message closed"
        e2e_click 310 257 # the exit button: the report, then the closing message
      fi
    fi
    sleep 0.2
  done
  e2e_wait_exit 10
  [ "$E2E_RC" = 0 ] || e2e_fail "$scenario: exit code $E2E_RC"
  [ -n "$TRYIT_DELAY" ] || e2e_fail "$scenario: no try-it page was shown"
  # The timer shows the try-it page 1.6 s after the install returned.
  ((TRYIT_DELAY >= 1400)) || e2e_fail "$scenario: the try-it page came after ${TRYIT_DELAY} ms, not 1.6 s"
  timeout 15 wineserver -k >/dev/null 2>&1 || true
  shown_texts >"$E2E_WORK/$scenario-messages.txt"
  grep -q '安装情况报告' "$E2E_WORK/$scenario-messages.txt" && e2e_fail "$scenario: the report was shown"
  [ "$(tail -n 1 "$E2E_WORK/$scenario-messages.txt")" = "${LAST_MESSAGE:-$CLOSING}" ] ||
    e2e_fail "$scenario: the last message is not ${LAST_MESSAGE:-the closing message}: $(tail -n 1 "$E2E_WORK/$scenario-messages.txt")"
  if [ -n "${LAST_MESSAGE:-}" ]; then
    [ "$(tail -n 2 "$E2E_WORK/$scenario-messages.txt" | head -n 1)" = "$CLOSING" ] ||
      e2e_fail "$scenario: the closing message does not come just before the last one"
  fi
  return 0
}

# Compares the install directory with the earlier files and the payload.
#   keep:     every kept file came back, and the count was shown;
#   silent:   the same, with nothing shown;
#   missing:  as keep, but the user never had mofazdfh.mfh: the payload's;
#   discard:  the payload's files; fresh: the pink skin and mode 3;
#   stopped:  nothing of the payload written, every user file as it was.
check() { # SCENARIO [INSTALL-DIR]
  "$PY" - "$1" "$(e2e_prefix_path "${2:-$INSTALL}")" "$E2E_WORK/before" "$MOFA_PAYLOAD" "$here" \
    "$E2E_WORK/$1-messages.txt" <<'PY'
import os, struct, sys, tempfile
scenario, install, before, payload_path, here, messages = sys.argv[1:]
sys.path.insert(0, here)
from payload import read_archive

failures = []
def check(ok, what):
    if not ok:
        failures.append(what)
def read(folder, name):
    path = os.path.join(folder, name)
    return open(path, 'rb').read() if os.path.exists(path) else None

payload = {name: data for name, data in read_archive(payload_path)}
shown = open(messages, encoding='utf-8').read().splitlines() if os.path.exists(messages) else []
copied = ['mofacyzk', 'mfszsj43', 'cfontset', 'cwbzlcz1', 'mfwbcmxz', 'mfdhzcm', 'mofadhz', 'mfgbkhz']
itself = ['mfszsj43.mfh', 'mofadwdw.txt', 'mofazdym.mfh', 'mfpyzdym.mfh', 'mfwbpy.txt', 'mofaynhz.txt',
          'mofazdfh.mfh', 'userck.txt', 'delck.txt', 'ftmfzdym.txt', 'ftpyzdym.txt', 'cwb.ov1', 'mofapymb.ov1',
          'mfgbkbh.mfh', 'mfszsj05.mfh', 'mfszsj06.mfh']
skin = ['mfbmp8.mfh'] + ['mfbmpsx%d.bmp' % i for i in range(1, 8)]

def sealed(words):
    """The phrase file as sealing leaves it: the words, the bare last one
    given its separator, then "MOFA", the byte sum and the word count."""
    body = b''.join(w + b'; ' for w in words)
    total = sum(b for w in words for b in w)
    return body + b'MOFA' + struct.pack('<II', total, len(words))

def skin_files(archive_name):
    with tempfile.NamedTemporaryFile(suffix='.mfz') as f:
        f.write(payload[archive_name])
        f.flush()
        return dict(read_archive(f.name))

if scenario in ('keep', 'silent', 'missing'):
    count = {'keep': 24, 'missing': 23}.get(scenario)
    if count:
        check('成功恢复了%d个原有数据文件！' % count in shown, 'the count message was not shown: %r' % shown)
    for stem in copied[1:]:
        check(read(install, stem + '.bak') == read(before, stem + '.mfh'), stem + '.bak differs from the earlier ' + stem + '.mfh')
    for name in itself:
        if read(before, name) is None:
            check(read(install, name) == payload.get(name), name + ', which the user never had, is not the payload\'s')
        else:
            check(read(install, name) == read(before, name), name + ' differs from the earlier one')
    words = read(before, 'mofacyzk.mfh').split(b'; ')
    check(read(install, 'mofacyzk.bak') == sealed(words), 'the phrase file is not the sealed earlier one')
    for name in skin:
        check(read(install, name) == read(before, name), 'the skin file %s was replaced' % name)
elif scenario == 'stopped':
    for name in sorted(os.listdir(before)):
        check(read(install, name) == read(before, name), name + ' changed although the install stopped')
    check(read(install, 'mofahu4.ime') is None, 'payload files were written although the install stopped')
elif scenario == 'discard':
    check(not any('成功恢复' in s for s in shown), 'a restore was reported')
    for name in itself:
        if name in payload and name != 'mfszsj43.mfh':
            check(read(install, name) == payload[name], name + ' is not the payload\'s')
    check(read(install, 'mfszsj43.mfh')[0] == 0, 'the configuration record was not written afresh')
    for name, data in skin_files('冷色瓷面.mfz').items():
        check(read(install, name) == data, 'the default skin file %s is not in place' % name)
else:
    record = read(install, 'mfszsj43.mfh')
    check(record is not None and record[0] == 4, 'byte 0 of the configuration record is %r, not 4' % (record[:1],))
    for name, data in skin_files('粉色瓷面.mfz').items():
        check(read(install, name) == data, 'the pink skin file %s is not in place' % name)
    check(read(install, 'mofaback.mfz') is None, 'a backup was made with no earlier installation')

for f in failures:
    print('FAIL:', f)
sys.exit(1 if failures else 0)
PY
}

# --- keep the earlier data ---------------------------------------------------
e2e_prefix
seed_earlier
walk keep y ok
[ "$DIALOG_SHOWN" = 0 ] || e2e_fail "keep: the skin dialog was shown although the earlier skin is whole"
grep -qx "$KEEP_QUESTION" "$E2E_WORK/keep-messages.txt" || e2e_fail "keep: the keep-data question was not asked"
check keep || e2e_fail "keep: the restored files differ"
e2e_log "keep: checked"
# The real 32-bit product walks this one whole install (slow where emulated).
if e2e_real_product; then exit 0; fi

# --- discard it ----------------------------------------------------------------
e2e_prefix
seed_earlier
walk discard n ok
[ "$DIALOG_SHOWN" = 1 ] || e2e_fail "discard: the skin dialog was shown $DIALOG_SHOWN times"
check discard || e2e_fail "discard: the install differs"
e2e_log "discard: checked"

# --- a fresh install: dual window and the pink skin ----------------------------
# The system's input.dll refuses to add the layout to the user's list: the
# install stands, and the user is told after the closing message where to
# add it by hand.
e2e_prefix
e2e_place_input_dll
MOFA_INPUTDLL_ANSWER=0 LAST_MESSAGE='如果输入法列表中没有智能墨筏，请在语言设置中为中文添加它。' \
  walk fresh y "113 25 36 10" "84 72 48 10"
grep -aq 'InstallLayoutOrTip("0804:E0[0-9A-F]*", 0): FALSE' "$(e2e_log_file)" || e2e_fail "fresh: the log does not name the refused call"
[ "$DIALOG_SHOWN" = 1 ] || e2e_fail "fresh: the skin dialog was shown $DIALOG_SHOWN times"
grep -q '是否保留' "$E2E_WORK/fresh-messages.txt" && e2e_fail "fresh: the keep-data question was asked"
check fresh || e2e_fail "fresh: the install differs"
# Nor in the folder setup was started from.
[ ! -e "$E2E_WORK/mofaback.mfz" ] || e2e_fail "fresh: a backup archive was left in the current folder"
e2e_log "fresh: checked"

# --- a silent upgrade: kept and restored without a question -------------------
# The path file lacks its final backslash; a program without administrator
# rights planted a "mofaback.mfz" that would write its own bytes over every
# user file, and a "C:\Program.exe" that an unquoted program path would start.
e2e_prefix
seed_earlier "$INSTALL" 'C:\Program Files\mofahu'
"$PY" -c "import sys; sys.path.insert(0, '$here'); from payload import write_archive
names = 'mofacyzk.bak mfszsj43.bak mfszsj43.mfh mofadwdw.txt mofazdym.mfh mfwbpy.txt cwb.ov1'.split()
write_archive(sys.argv[1], [(n, b'planted ' + n.encode()) for n in names])" "$(e2e_prefix_path "${INSTALL}mofaback.mfz")"
cp "$MARKER" "$(e2e_prefix_path 'C:\Program.exe')"
# Traced: each file the run writes must reach the disk (its fsync, after its
# last write) before the journal's commit record is written, so that a power
# cut after the commit leaves no file of the run holding zeros.
printf '#!/bin/sh\nexec strace -qq -y -e trace=write,pwrite64,writev,fsync,fdatasync -o "%s" "%s" "$@"\n' \
  "$E2E_WORK/upgrade.strace" "$MOFA_WINE" >"$E2E_WORK/traced-wine"
chmod +x "$E2E_WORK/traced-wine"
MOFA_WINE=$E2E_WORK/traced-wine E2E_SILENT_SECONDS=120 e2e_silent_run setmfsrf32
"$PY" - "$E2E_WORK/upgrade.strace" "$WINEPREFIX/drive_c/" <<'PY' || e2e_fail "silent: files of the run were not on the disk before the commit"
import re, sys
calls = []
for line in open(sys.argv[1], errors='replace'):
    m = re.match(r'(?:\d+\s+)?(write|pwrite64|writev|fsync|fdatasync)\(\d+<([^>]*)>', line)
    if m and m.group(2).startswith(sys.argv[2]):
        calls.append((m.group(1), m.group(2)))
journal = [i for i, (call, path) in enumerate(calls) if call != 'fsync' and path.endswith('mofajrnl.mfh')]
if not journal:
    sys.exit('no journal record traced')
commit = journal[-1]
last_write, flushed, late = {}, {}, set()
for i, (call, path) in enumerate(calls):
    if path.endswith('.log') or path.endswith('mofajrnl.mfh'):
        continue  # the logs need not reach the disk; the journal flushes each record
    if call.startswith('f'):
        flushed[path] = i
    elif i < commit:
        last_write[path] = i
    else:
        late.add(path)
lost = sorted(p for p, w in last_write.items() if not (w < flushed.get(p, -1) < commit))
syncs = sum(1 for call, path in calls if call.startswith('f'))
records = sum(1 for call, path in calls[:commit + 1] if call.startswith('f') and path.endswith('mofajrnl.mfh'))
print('%d files written before the commit, all flushed before it: %s; written after it: %d; '
      '%d flushes in the run, %d of them journal records up to the commit' %
      (len(last_write), not lost, len(late), syncs, records))
for p in lost[:10] + sorted(late)[:10]:
    print('  not durable by the commit:', p)
sys.exit(1 if lost or late or len(last_write) < 50 else 0)
PY
sleep 2 # a program started behind setup's back would have run by now
[ ! -e "$(e2e_prefix_path 'C:\Program.exe.ran')" ] || e2e_fail "silent: the planted C:\\Program.exe was started"
check silent || e2e_fail "silent: the user's files were not kept"
e2e_log "silent: checked"

# --- kills: silent upgrades ended at moments spread over the run --------------
# As a kill or a power loss ends it: the process frozen, then its wine server
# ended. Each is followed by one silent run, which must complete it: every
# user file kept (the twins too) and a true count in the log, both modules
# whole, nothing left over. All in one prefix, each upgrade over the last:
# five upgrades in a row keep every user byte.

# Freezes the running setup and ends its wine server.
kill_setup() {
  local pid
  pid=$(pgrep -P "$E2E_SETUP_PID" | head -n 1 || true)
  [ -n "$pid" ] || e2e_fail "$1: setup had ended before the kill"
  kill -STOP "$pid"
  timeout 15 wineserver -k >/dev/null 2>&1 || true
  wait "$E2E_SETUP_PID" 2>/dev/null || true
  E2E_SETUP_PID=
  e2e_log "$1: setup killed"
}
# Waits until the install log of this run has COUNT lines matching REGEX.
wait_log() { # FROM-LINE COUNT REGEX WHAT
  local end=$((SECONDS + 60 * E2E_PATIENCE))
  until (($(tail -n +"$1" "$(e2e_log_file)" 2>/dev/null | grep -cE "$3" || true) >= $2)); do
    e2e_setup_running || e2e_fail "$4: setup ended before the log showed $3"
    ((SECONDS < end)) || e2e_fail "$4: the log never showed $3"
    sleep 0.05
  done
}
# The run that completes a killed one: the user's files, the modules, the
# count, and nothing left over.
check_completed() { # WHAT FROM-LINE
  e2e_silent_run setmfsrf32
  check silent || e2e_fail "$1: the user's files were not kept"
  tail -n +"$2" "$(e2e_log_file)" | grep -q '成功恢复了24个原有数据文件' ||
    e2e_fail "$1: the log shows no restore of 24 files"
  "$PY" - "$WINEPREFIX/drive_c/windows" "$MOFA_PAYLOAD" "$here" <<'PY' || e2e_fail "$1: not whole, or left over"
import os, sys
windows, payload_path, here = sys.argv[1:]
sys.path.insert(0, here)
from payload import read_archive
payload = dict(read_archive(payload_path))
bad = []
for folder, name in (('system32', 'mofahu64.ime'), ('syswow64', 'mofahu4.ime')):
    if open(os.path.join(windows, folder, 'mofahu4.ime'), 'rb').read() != payload[name]:
        bad.append('%s\\mofahu4.ime is not the whole new module' % folder)
for top in (windows, os.path.join(os.path.dirname(windows), 'Program Files', 'mofahu')):
    for root, dirs, files in os.walk(top):
        for n in dirs + files:
            low = n.lower()
            if '.mfold' in low or low.endswith('.mfnew') or low.startswith('mofabak') or \
                    (low.startswith('mofasetup.') and low.endswith('.tmp')):
                bad.append('left over: ' + os.path.join(root, n))
        if top == windows:
            dirs[:] = [d for d in dirs if d.lower() in ('system32', 'syswow64')]
for b in bad:
    print('FAIL:', b)
sys.exit(1 if bad else 0)
PY
  e2e_log "$1: completed by the next run"
}
# The install log afresh: what the next run writes, from line 1.
fresh_log() { mkdir -p "$(dirname "$(e2e_log_file)")" && : >"$(e2e_log_file)"; }
e2e_prefix
seed_earlier
fresh_log
check_completed "kill: first upgrade" 1
# The system's input.dll stood in: after the commit it waits for the kill
# (the run ends too soon after the commit for a kill to find it otherwise).
e2e_place_input_dll
# Mid-extraction, between the deployment passes, in the restore, after the commit.
for moment in '40 digest verified' '1 step registration: done' '1 step autostart and browser token: done' \
  '1 journal committed'; do
  fresh_log
  pause=0
  [ "$moment" != '1 journal committed' ] || pause=20000
  MOFA_INPUTDLL_PAUSE_MS=$pause e2e_start_setup setmfsrf32
  wait_log 1 "${moment%% *}" "${moment#* }" "kill at \"$moment\""
  kill_setup "kill at \"$moment\""
  fresh_log
  check_completed "kill at \"$moment\"" 1
done

# walk_to_box NAME TIMEOUT: starts the wizard and takes OK on its splash, site
# and confirm pages (screens NAME-PAGE) up to the first message box.
walk_to_box() {
  local page wait=15
  e2e_start_setup
  e2e_find_wizard 30
  for page in splash site confirm; do
    e2e_wait_page "$page" "$wait" "$1-$page" >/dev/null
    e2e_click 90 257
    wait=10
  done
  e2e_find_box "$2"
}

# --- the wizard killed while it asks the keep-data question ------------------
e2e_prefix
seed_earlier
walk_to_box killed 60
[ "$(shown_texts | tail -n 1)" = "$KEEP_QUESTION" ] || e2e_fail "killed: the box is not the keep-data question"
kill_setup "killed at the question"
fresh_log
check_completed "killed at the question" 1

# --- links planted by a program without administrator rights ------------------
# Every file of the earlier installation (user files, payload files, a backup
# archive) is a second name of a file in C:\windows, and so is the default
# log: hard links, whose names wine counts. A silent upgrade reads, writes and
# deletes nothing through them: no user file is kept (the log says which and
# why), the payload's files take the links' names, every target keeps its
# bytes, its time and its mode, and the log goes on under a fresh name.
e2e_prefix
seed_earlier
earlier=$(e2e_prefix_path "$INSTALL")
windir=$(e2e_prefix_path 'C:\windows')
log=$(e2e_log_file)
mkdir -p "$(dirname "$log")" "$E2E_WORK/targets"
for name in mofatyrk.exe mofatyr6.exe mofahu4.ime mofacyzk.bak mofaback.mfz; do printf 'earlier %s' "$name" >"$earlier/$name"; done
: >"$log"
for path in "$earlier"/* "$log"; do
  name=$(basename "$path")
  target=$windir/mofatarget.$name
  { printf 'ADMIN-ONLY %s\r\n' "$name"; head -c 2000 /dev/urandom; } >"$target"
  rm "$path"
  ln "$target" "$path"
  cp -p "$target" "$E2E_WORK/targets/$name"
done
e2e_silent_run setmfsrf32
timeout 15 wineserver -w || true
for kept in "$E2E_WORK/targets"/*; do
  name=$(basename "$kept")
  target=$windir/mofatarget.$name
  [ -f "$target" ] || e2e_fail "links: the target of $name was deleted"
  cmp -s "$kept" "$target" || e2e_fail "links: the target of $name was written"
  [ "$(stat -c '%Y %a' "$kept")" = "$(stat -c '%Y %a' "$target")" ] || e2e_fail "links: the target of $name changed"
done
# Only a link that was left alone (the target's own file) holds a target's
# bytes; nothing setup wrote does.
while IFS= read -r -d '' path; do
  if [ "$(stat -c %h "$path")" -gt 1 ]; then
    cmp -s "$path" "$windir/mofatarget.$(basename "$path")" || e2e_fail "links: $path is a link setup changed"
  elif grep -q 'ADMIN-ONLY' "$path"; then
    e2e_fail "links: $path holds a target's bytes"
  fi
done < <(find "$earlier" "$(e2e_prefix_path 'C:\windows\mofapath.mfh')" -type f -print0)
cmp -s "$log" "$windir/mofatarget.mofasetup.log" || e2e_fail "links: the default log's target was written"
fresh=$(find "$(dirname "$log")" -maxdepth 1 -name 'mofasetup.log.*.log' | head -n 1)
[ -n "$fresh" ] || e2e_fail "links: no fresh log beside the linked one"
head -n 1 "$fresh" | grep -q "this log is written here, not at .*mofasetup.log: it is a link" ||
  e2e_fail "links: the fresh log's first line is: $(head -n 1 "$fresh")"
grep -q 'user file not kept: .*cfontset.mfh is a link' "$fresh" || e2e_fail "links: the log does not say cfontset.mfh was not kept"
grep -q 'link removed, its name only: .*mofahu4.ime' "$fresh" || e2e_fail "links: the log does not say the link at mofahu4.ime was removed"
tail -n 1 "$fresh" | tr -d '\r' | grep -q 'exit code 0$' || e2e_fail "links: the log ends with: $(tail -n 1 "$fresh")"
[ "$(stat -c %h "$earlier/mofahu4.ime")" = 1 ] || e2e_fail "links: mofahu4.ime is not a fresh file"
e2e_log "links: checked"

# --- no path file, a file the user never had, an archive that cannot go -------
# The earlier installation is the install directory itself; mofazdfh.mfh is
# missing; a running program holds a "mofaback.mfz" there.
e2e_prefix
seed_earlier "$INSTALL" none
rm "$(e2e_prefix_path "${INSTALL}mofazdfh.mfh")" "$E2E_WORK/before/mofazdfh.mfh"
cp "$WINEPREFIX/drive_c/windows/system32/version.dll" "$(e2e_prefix_path "${INSTALL}mofaback.mfz")"
wine "$HOLD" "${INSTALL}mofaback.mfz" >"$E2E_WORK/hold.log" 2>&1 &
for ((i = 0; i < 100; i++)); do grep -q held "$E2E_WORK/hold.log" 2>/dev/null && break; sleep 0.1; done
grep -q held "$E2E_WORK/hold.log" || e2e_fail "missing: mofaback.mfz could not be held: $(cat "$E2E_WORK/hold.log")"
walk missing y ok
grep -qx "$KEEP_QUESTION" "$E2E_WORK/missing-messages.txt" || e2e_fail "missing: the keep-data question was not asked"
check missing || e2e_fail "missing: the user's files were not kept"
e2e_log "missing: checked"

# --- a nearly full disk --------------------------------------------------------
# Program Files on drive E:, a 2 MB tmpfs that holds the earlier installation
# and has too little room for the payload: the install stops with its
# message before anything is written, and every user file stays as it was.
e2e_prefix
E_DRIVE=$E2E_WORK/e-drive
mkdir -p "$E_DRIVE"
mount -t tmpfs -o size=2m mofa-e2e "$E_DRIVE" || e2e_fail "fulldisk: cannot mount a tmpfs (root is needed)"
UNMOUNT=$E_DRIVE
ln -sfn "$E_DRIVE" "$WINEPREFIX/dosdevices/e:"
mkdir -p "$E_DRIVE/Program Files"
wine reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion' /v ProgramFilesDir /d 'E:\Program Files' /f >/dev/null 2>&1
seed_earlier 'E:\Program Files\mofahu\'
head -c 1700000 /dev/zero >"$E_DRIVE/filler"
walk_to_box fulldisk 30
e2e_shot fulldisk-box "$E2E_BOX" >/dev/null
text=$(shown_texts | tail -n 1)
[[ $text == *'E:\Program Files\mofahu\所在的磁盘空间不足'* ]] || e2e_fail "fulldisk: the message is \"$text\""
e2e_answer_box
e2e_wait_exit 15
[ "$E2E_RC" = "$(e2e_exit_byte 1603)" ] || e2e_fail "fulldisk: exit code $E2E_RC, expected 1603"
! e2e_box_present || e2e_fail "fulldisk: a second message followed: $(shown_texts | tail -n 1)"
timeout 15 wineserver -k >/dev/null 2>&1 || true
check stopped 'E:\Program Files\mofahu\' || e2e_fail "fulldisk: the earlier installation changed"
e2e_log "fulldisk: checked"
