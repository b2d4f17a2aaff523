#!/usr/bin/env bash
# The wizard walked by real clicks in a fresh 64-bit Windows 7 prefix:
# splash -> site page (an address typed) -> confirm page -> exit button.
# Checks the painted pages, the button edges, the right mouse button, the
# recorded install path and that leaving before the install installs nothing
# (exit code 1602). Then a whole install driven by the keyboard alone: Enter
# as the OK button, Esc as the exit button; its try-it page loads the
# installed input method into setup's process.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

e2e_init wizard_walk
e2e_prefix
e2e_start_x
e2e_start_setup
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

# The path file holds the install directory exactly: the Program Files folder
# with "mofahu\" appended, no line end, no terminator; the administrator
# probe written at start must not be left in it. On Windows 7 a second copy
# goes to the first fixed drive from G: down, here C:.
want='C:\Program Files\mofahu\'
got=$(e2e_read_prefix_file 'C:\windows\mofapath.mfh')
[ "$got" = "$want" ] || e2e_fail "mofapath.mfh holds \"$got\", expected \"$want\""
[ "$(wc -c <"$(e2e_prefix_path 'C:\windows\mofapath.mfh')")" = ${#want} ] ||
  e2e_fail "mofapath.mfh is not exactly ${#want} bytes"
got=$(e2e_read_prefix_file 'C:\mofahu\mofapath.mfh')
[ "$got" = "$want" ] || e2e_fail "the second path file holds \"$got\", expected \"$want\""

# --- exit --------------------------------------------------------------------
e2e_click 310 257
e2e_wait_exit 5
[ "$E2E_RC" = "$(e2e_exit_byte 1602)" ] || e2e_fail "exit code $E2E_RC after the exit button, expected 1602"
# Leaving from the confirm page installs nothing.
[ ! -e "$(e2e_prefix_path 'C:\Program Files\mofahu')" ] ||
  e2e_fail "C:\\Program Files\\mofahu exists although the install was never confirmed"
e2e_log "screenshots in $E2E_SHOTS"

# --- a whole install by the keyboard --------------------------------------------
e2e_prefix
e2e_start_setup
e2e_find_wizard 30
e2e_wait_page splash 15 10-keys-splash >/dev/null
# With no window manager the keys go to the window under the pointer.
xdotool mousemove --window "$E2E_WINDOW" 200 100
e2e_key Return
e2e_wait_page site 10 11-keys-site >/dev/null
e2e_type 'www.keys.gov.cn'
e2e_key Return # in the site field: confirms the site page
e2e_wait_page confirm 10 12-keys-confirm >/dev/null
e2e_key Return
# The skin dialog: Enter on its default button, once it is active.
e2e_find_box 60 '^智能墨筏皮肤及窗口模式选择$'
e2e_answer_box
xdotool mousemove --window "$E2E_WINDOW" 200 100
e2e_wait_page tryit 20 13-keys-tryit >/dev/null
# The try-it page activates the product's input method for its field: the
# input-method manager has loaded the installed 64-bit module into setup's
# own process (the module's marker line, lib.sh).
e2e_wait_marker 10 '^ime c:\\windows\\system32\\mofahu4\.ime 64 7\.9 mofahu64\.ime( file [^ ]*)? process [^ ]*\\mofasetup\.exe$' \
  "keyboard install: the try-it page"
e2e_key Return # page 9, which looks the same
sleep 0.5
e2e_key Escape # leaves the try-it page: the report, then the closing message
e2e_find_box 20
e2e_answer_box
e2e_wait_exit 10
[ "$E2E_RC" = 0 ] || e2e_fail "keyboard install: exit code $E2E_RC, expected 0"
settings=$(e2e_read_prefix_file 'C:\Program Files\mofahu\mfnetsj.dat' | tr -d '\r')
[[ $settings == *$'\nMFNETURL2=www.keys.gov.cn\n'* ]] || e2e_fail "keyboard install: the typed site is not saved: $settings"
e2e_read_prefix_file 'C:\windows\system32\mofahu4.ime' >/dev/null
e2e_log "keyboard install: done"
