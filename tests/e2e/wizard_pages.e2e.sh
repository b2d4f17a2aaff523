#!/usr/bin/env bash
# Every page of a 64-bit install as painted, walked by real clicks: splash
# (with its picture from the payload), site, confirm, progress and try-it;
# pixels of each screenshot checked against the page colours and frames.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
e2e_init wizard_pages
here=$(cd "$(dirname "$0")" && pwd)
SKIN_TITLE='^智能墨筏皮肤及窗口模式选择$'
e2e_prefix
e2e_start_x
e2e_start_setup
e2e_find_wizard 30

# Background rows at the right edge, where nothing else is drawn.
expect_rows() {  # expect_rows PNG splash|page WHAT ROWS...
  local png=$1 kind=$2 what=$3 y
  shift 3
  for y in "$@"; do
    e2e_expect_pixel "$png" 390 "$y" "$(e2e_${kind}_rgb "$y")" "$what background row $y"
  done
}

# The raised frame of a button: white top and left edges, black bottom and right.
expect_button() {  # expect_button PNG LEFT TOP RIGHT BOTTOM WHAT
  e2e_expect_pixel "$1" $((($2 + $4) / 2)) "$3" 255,255,255 "$6 top edge"
  e2e_expect_pixel "$1" "$2" $((($3 + $5) / 2)) 255,255,255 "$6 left edge"
  e2e_expect_pixel "$1" $((($2 + $4) / 2)) "$5" 0,0,0 "$6 bottom edge"
  e2e_expect_pixel "$1" "$4" $((($3 + $5) / 2)) 0,0,0 "$6 right edge"
}

shot=$(e2e_wait_page splash 20 01-splash)
expect_rows "$shot" splash splash 190 230 284
# The top 190 rows show the payload's picture the right way up.
points=(5 5 200 40 390 185 12 150)
mapfile -t want < <(/usr/bin/python3 "$here/bmp_pixel.py" "$MOFA_PAYLOAD" tyrk1.bmp "${points[@]}")
for ((i = 0; i < ${#want[@]}; i++)); do
  e2e_expect_pixel "$shot" "${points[2 * i]}" "${points[2 * i + 1]}" "${want[i]}" "splash picture"
done
expect_button "$shot" 40 245 140 270 "splash OK button"
expect_button "$shot" 260 245 360 270 "splash exit button"

e2e_click 90 257
shot=$(e2e_wait_page site 10 02-site)
expect_rows "$shot" page site 5 60 150 240 280
expect_button "$shot" 30 192 365 217 "site field frame"
e2e_click 200 205
e2e_type "www.example.gov.cn"

e2e_click 90 257
shot=$(e2e_wait_page confirm 10 03-confirm)
expect_rows "$shot" page confirm 5 60 230 280
expect_button "$shot" 40 245 140 270 "confirm OK button"

# The install runs inside the click; the skin choice comes in its middle.
e2e_click 90 257
e2e_find_box 60 "$SKIN_TITLE"
e2e_shot 04-skin "$E2E_BOX" >/dev/null
e2e_answer_box
# 1.6 s of the progress page before the try-it page.
shot=$(e2e_wait_page progress 5 05-progress)
expect_rows "$shot" page progress 5 150 240 280
e2e_expect_pixel "$shot" 90 270 "$(e2e_page_rgb 270)" "progress page: no OK button"

shot=$(e2e_wait_page tryit 10 06-tryit)
expect_rows "$shot" page try-it 5 150 240 280
expect_button "$shot" 40 245 140 270 "try-it OK button"
e2e_click 200 205
e2e_type "abc"

# The exit button runs the report; a complete install shows the closing message.
e2e_click 310 257
e2e_find_box 20
e2e_shot 07-closing "$E2E_BOX" >/dev/null
e2e_answer_box
e2e_wait_exit 10
[ "$E2E_RC" = 0 ] || e2e_fail "exit code $E2E_RC"

# What the interactive run wrote for the input method: the typed site under
# key 2, the block with the text of the site page's confirm, the record with
# the default status window, and the install stamp.
dir='C:\Program Files\mofahu\'
settings=$(e2e_read_prefix_file "${dir}mfnetsj.dat" | tr -d '\r')
[[ $settings == *$'\nMFNETURL2=www.example.gov.cn\n'* ]] || e2e_fail "mfnetsj.dat lacks the typed site: $settings"
/usr/bin/python3 - "$(e2e_prefix_path "${dir}mofadat.dat")" "$(e2e_prefix_path "${dir}mfszsj43.mfh")" \
  "$(e2e_prefix_path "${dir}install.mfh")" <<'PY' || e2e_fail "settings written by the window differ"
import sys
block, record, stamp = (open(p, 'rb').read() for p in sys.argv[1:4])
text = (b'MFNETURL1=\r\nMFNETURL2=www.example.gov.cn\r\nMFNETTIME=1\r\nMFBJTIME=7\r\nMFWYTIME=3\r\n'
        b'MFSJOFF=0\r\nMFNETTIME0=0\r\nMFBJTIME0=0\r\nMFNEONE=1\r\n')
bad = []
if len(block) != 1000 or block[200:219] != b'www.example.gov.cn\0' or block[300:300 + len(text) + 1] != text + b'\0':
    bad.append('mofadat.dat does not carry the site and the first text')
if len(record) != 200 or record[0] != 0 or record[0x15] != 0 or record[1] != 1 or record[0x36] != 0:
    bad.append('mfszsj43.mfh is not the record of the default status window')
if not stamp.lstrip(b'-').isdigit():
    bad.append('install.mfh is %r, not a decimal tick count' % stamp)
for b in bad:
    print('FAIL:', b)
sys.exit(1 if bad else 0)
PY
