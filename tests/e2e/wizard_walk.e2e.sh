#!/usr/bin/env bash
# The wizard walked by real clicks in a fresh 64-bit Windows 10 prefix under
# an English locale (code page 1252): splash -> site page (an address typed)
# -> confirm page -> exit button. Checks the Chinese title, the painted
# pages, the button edges, the right mouse button and that leaving before
# the install writes nothing (exit code 1602); a message box of a refused
# /D= reads in Chinese. Then whole installs driven by the keyboard alone
# (Enter as the OK button, Esc as the exit button) under the English and the
# Traditional Chinese locale (code page 950): the dialog's caption, the
# messages in the log and the uninstall entry's Publisher read in Chinese;
# under the Chinese locale the try-it page loads the installed input method
# into setup's process.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

e2e_init wizard_walk
e2e_prefix --version win10
e2e_start_x
e2e_start_setup --lc en_US.UTF-8
e2e_find_wizard 30

# Rows of the background at the right edge, where no text or frame is drawn
# (the visible client area is 394 x 285; the splash picture covers the rows
# above 190).
expect_background() { # PNG KIND(splash|page) WHAT
  local y rows="0 3 57 150 231 284"
  [ "$2" = splash ] && rows="190 200 231 257 284"
  for y in $rows; do
    e2e_expect_pixel "$1" 390 "$y" "$(e2e_"$2"_rgb "$y")" "$3 background"
  done
}

# Share of dark pixels in a client rectangle of a screenshot.
ink() { # PNG X Y W H
  convert "$1" -crop "$4x$5+$(($2 + E2E_DX))+$(($3 + E2E_DY))" +repage -colorspace gray -threshold 50% \
    -format '%[fx:1-mean]' info:
}

# --- splash page -------------------------------------------------------------
shot=$(e2e_wait_page splash 15 01-splash)
expect_background "$shot" splash "splash page"
# The OK button's white left and top edges sit exactly at client x=40 and
# y=245: this pins the client offset to the pixel.
e2e_expect_pixel "$shot" 40 257 255,255,255 "OK button left edge"
e2e_expect_pixel "$shot" 39 257 "$(e2e_splash_rgb 257)" "left of the OK button"
e2e_expect_pixel "$shot" 90 245 255,255,255 "OK button top edge"
e2e_expect_pixel "$shot" 90 244 "$(e2e_splash_rgb 244)" "above the OK button"
e2e_expect_pixel "$shot" 300 270 0,0,0 "exit button bottom edge"

# A click one pixel right of the OK button's corner does nothing.
e2e_click 141 270
sleep 1
shot=$(e2e_shot 01-splash-after-miss)
[ "$(e2e_page_of "$shot")" = splash ] || e2e_fail "a click at (141,270) left the splash page"

# The very top-left corner of the OK button counts.
e2e_click 40 245

# --- site page ---------------------------------------------------------------
shot=$(e2e_wait_page site 10 02-site)
expect_background "$shot" page "site page"
e2e_expect_pixel "$shot" 30 217 0,0,0 "site field frame bottom edge"
empty=$(ink "$shot" 133 198 220 14)
e2e_log "ink in the empty site field: $empty"
[ "$empty" = 0 ] || e2e_fail "the site field is not empty before typing (ink $empty)"

e2e_click 240 205
sleep 0.3
e2e_key ctrl+a
e2e_type 'www.example.gov.cn'
sleep 0.5
shot=$(e2e_shot 02-site-typed)
[ "$(e2e_page_of "$shot")" = site ] || e2e_fail "typing into the site field left the site page"
typed=$(ink "$shot" 133 198 220 14)
e2e_log "ink after typing: $typed"
awk -v v="$typed" 'BEGIN { exit !(v > 0.03) }' || e2e_fail "the typed address does not show in the site field (ink $typed)"

# OK with the right mouse button, at the button's bottom-right corner.
e2e_click 140 270 3

# --- confirm page ------------------------------------------------------------
shot=$(e2e_wait_page confirm 10 03-confirm)
expect_background "$shot" page "confirm page"
# The site field is gone: its place shows the background.
e2e_expect_pixel "$shot" 340 205 "$(e2e_page_rgb 205)" "where the site field was"

# Nothing is written before the install: no path file yet.
for f in 'C:\windows\mofapath.mfh' 'C:\mofahu\mofapath.mfh'; do
  [ ! -e "$(e2e_prefix_path "$f")" ] || e2e_fail "$f was written before the install was confirmed"
done

# --- exit --------------------------------------------------------------------
e2e_click 310 257
e2e_wait_exit 5
[ "$E2E_RC" = "$(e2e_exit_byte 1602)" ] || e2e_fail "exit code $E2E_RC after the exit button, expected 1602"
# Leaving from the confirm page installs nothing.
[ ! -e "$(e2e_prefix_path 'C:\Program Files\mofahu')" ] ||
  e2e_fail "C:\\Program Files\\mofahu exists although the install was never confirmed"
e2e_log "screenshots in $E2E_SHOTS"

# A box of GBK text, refusing a /D= that is no full path: caption and text
# in Chinese under code page 1252 too.
e2e_start_setup --lc en_US.UTF-8 '/D=mofa'
e2e_find_box 20 '^智能墨筏安装$'
e2e_shot 05-refused-dir "$E2E_BOX" >/dev/null
e2e_answer_box
e2e_wait_exit 5
[ "$E2E_RC" = 87 ] || e2e_fail "a refused /D= ended with $E2E_RC, expected 87"
grep -q 'message: 　　命令行指定的安装目录mofa不是本机硬盘上的完整路径，安装没有进行。$' <(tr -d '\r' <"$(e2e_log_file)") ||
  e2e_fail "the log does not hold the refusal in Chinese"

# No text of the log, no registry value read through the wrong code page:
# GBK bytes taken as code page 1252 or 950 leave Latin-1 letters or "?".
check_texts() { # LOCALE
  timeout 15 wineserver -k >/dev/null 2>&1 || true
  /usr/bin/python3 - "$WINEPREFIX" "$(e2e_log_file)" "$(dirname "$0")" "$1" <<'PY' || e2e_fail "$1: texts garbled"
import os, sys
sys.path.insert(0, sys.argv[3])
from winreg import read_hive
prefix, log, here, locale = sys.argv[1:]
bad = [l for l in open(log, encoding='utf-8', errors='replace').read().splitlines()
       if any(0x80 <= ord(c) < 0x100 or c == '\ufffd' for c in l) or '??' in l]
entry = read_hive(prefix, 'HKLM')['software\\microsoft\\windows\\currentversion\\uninstall\\mofaxwb']
publisher, name = entry.get('publisher'), entry.get('displayname')
print('%s: Publisher %r, DisplayName %r, %d log lines garbled' % (locale, publisher, name, len(bad)))
vendor = os.environ.get('MOFA_VENDOR_NAME') or '智能墨筏'
ok = not bad and publisher == ('REG_SZ', vendor) and name == ('REG_SZ', '墨筏五笔')
for l in bad[:5]:
    print('garbled:', l)
sys.exit(0 if ok else 1)
PY
}

# --- whole installs by the keyboard ---------------------------------------------
keyboard_install() { # LOCALE SKIN-DIALOG-CAPTION
  local lc=$1
  e2e_prefix --version win10
  e2e_start_setup --lc "$lc"
  e2e_find_wizard 30
  e2e_wait_page splash 15 "10-$lc-splash" >/dev/null
  # With no window manager the keys go to the window under the pointer.
  xdotool mousemove --window "$E2E_WINDOW" 200 100
  e2e_key Return
  e2e_wait_page site 10 "11-$lc-site" >/dev/null
  e2e_type 'www.keys.gov.cn'
  e2e_key Return # in the site field: confirms the site page
  e2e_wait_page confirm 10 "12-$lc-confirm" >/dev/null
  e2e_key Return
  # The skin dialog, by its caption: Enter on its default button, once it is
  # active.
  e2e_find_box 60 "^$2\$"
  e2e_shot "13-$lc-skin-dialog" "$E2E_BOX" >/dev/null
  e2e_answer_box
  xdotool mousemove --window "$E2E_WINDOW" 200 100
  e2e_wait_page tryit 20 "14-$lc-tryit" >/dev/null
  # The try-it page activates the product's input method for its field: the
  # input-method manager has loaded the installed 64-bit module into setup's
  # own process (the module's marker line, lib.sh). Wine activates only
  # layouts of the locale's language.
  if [[ $lc == zh_* ]]; then
    e2e_wait_marker 10 '^ime c:\\windows\\system32\\mofahu4\.ime 64 7\.9 mofahu64\.ime( file [^ ]*)? process [^ ]*\\mofasetup\.exe$' \
      "$lc keyboard install: the try-it page"
  fi
  e2e_key Return # page 9, which looks the same
  sleep 0.5
  e2e_key Escape # leaves the try-it page: the report, then the closing message
  e2e_find_box 20
  e2e_shot "15-$lc-closing" "$E2E_BOX" >/dev/null
  e2e_answer_box
  e2e_wait_exit 10
  [ "$E2E_RC" = 0 ] || e2e_fail "$lc keyboard install: exit code $E2E_RC, expected 0"
  settings=$(e2e_read_prefix_file 'C:\Program Files\mofahu\mfnetsj.dat' | tr -d '\r')
  [[ $settings == *$'\nMFNETURL2=www.keys.gov.cn\n'* ]] || e2e_fail "$lc keyboard install: the typed site is not saved: $settings"
  e2e_read_prefix_file 'C:\windows\system32\mofahu4.ime' >/dev/null
  tr -d '\r' <"$(e2e_log_file)" | grep -q 'message: 安装完毕，如不能使用，请重新启动计算机！$' ||
    e2e_fail "$lc keyboard install: the log does not hold the closing message"
  check_texts "$lc"
  e2e_log "$lc keyboard install: done"
}

keyboard_install en_US.UTF-8 '智能墨筏皮肤及窗口模式选择'
keyboard_install zh_TW.UTF-8 '智能墨筏皮膚及窗口模式選擇'
