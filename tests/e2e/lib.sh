# shellcheck shell=bash
# Helpers for end-to-end tests of mofasetup.exe: a fresh wine prefix, a private
# Xvfb, the program in the background, its windows found, clicked, typed into
# and photographed, and everything stopped again on exit.
#
#   set -euo pipefail
#   source "$(dirname "$0")/lib.sh"
#   e2e_init wizard_walk               # work folder, tools, exit trap
#   e2e_prefix                         # options go to scripts/wine-prefix.sh
#   e2e_start_x
#   e2e_start_setup [--lc zh_TW.UTF-8] [args...]
#   e2e_find_wizard 20
#   e2e_click 90 257                   # client coordinates of the wizard
#   e2e_wait_page site 10
#   e2e_wait_exit 10; [ "$E2E_RC" = "$(e2e_exit_byte 1602)" ]
#
# Coordinates given to e2e_click and e2e_pixel are CLIENT coordinates of the
# wizard; the helpers add the offset of the client area inside the X window.
# With no window manager wine maps only the client area of a captioned window
# (the X window is 394 x 285 for the 400 x 310 wizard), so the offset is (0,0).
# When wine draws the frame itself (X11 Driver "Managed"="N") the X window is
# the whole 400 x 310 window and the client area starts after the 3-pixel
# border and the 19-pixel caption: (3,22). Both were checked by screenshot.
#
# Every wait is bounded; on failure e2e_fail prints what went wrong and where
# the screenshots and logs are, and the exit trap kills what was started.

E2E_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
MOFA_EXE=${MOFA_EXE:-$E2E_ROOT/build/win64/mofasetup.exe}
MOFA_SCRIPTS=${MOFA_SCRIPTS:-$E2E_ROOT/scripts}
# MOFA_WINE is the loader of the program under test; `wine` runs the tools
# (wine-env.sh).
# shellcheck source=../../scripts/wine-env.sh
source "$MOFA_SCRIPTS/wine-env.sh"
# MOFA_PRODUCT32=1: the program under test is the real 32-bit product, run
# through the 32-bit loader, perhaps emulated; every bounded wait is
# E2E_PATIENCE times as long.
E2E_PATIENCE=1
if [ "${MOFA_PRODUCT32:-0}" = 1 ]; then
  MOFA_WINE=$MOFA_WINE32
  E2E_PATIENCE=4
fi
e2e_real_product() { [ "${MOFA_PRODUCT32:-0}" = 1 ]; }
# Test programs of the 64-bit build (holdfile.exe, marker.exe).
MOFA_WIN_TESTS=${MOFA_WIN_TESTS:-$(dirname "$MOFA_EXE")/tests/win}
# The system's input.dll stood in (tests/win/inputdll.cpp; wine has none), of
# each bitness where programs of that bitness load it.
e2e_place_input_dll() {
  local windows=$WINEPREFIX/drive_c/windows
  if mofa_prefix_is_win32; then
    cp "$MOFA_WIN_TESTS/inputdll32.dll" "$windows/system32/input.dll"
  else
    cp "$MOFA_WIN_TESTS/inputdll.dll" "$windows/system32/input.dll"
    [ ! -d "$windows/syswow64" ] || cp "$MOFA_WIN_TESTS/inputdll32.dll" "$windows/syswow64/input.dll"
  fi
}

# The wizard's outer size and the frame wine draws when it draws one.
E2E_OUTER_W=400
E2E_OUTER_H=310
E2E_FRAME_DX=3
E2E_FRAME_DY=22

E2E_NAME=e2e
E2E_WORK=
E2E_PREFIX=
E2E_SHOTS=
E2E_XVFB_PID=
E2E_SETUP_PID=
E2E_WINDOW=
E2E_BOX=
E2E_RC=
E2E_DX=0
E2E_DY=0
E2E_LC=zh_CN.UTF-8
E2E_WOW64=1
E2E_VERSION=win7
E2E_T0=$SECONDS

e2e_log() { echo "[$E2E_NAME +$((SECONDS - E2E_T0))s] $*"; }

e2e_fail() {
  echo "[$E2E_NAME] FAIL: $*" >&2
  if [ -n "$E2E_WORK" ]; then
    echo "[$E2E_NAME] screenshots: ${E2E_SHOTS:-none}; program output: $E2E_WORK/setup.log" >&2
    if [ -s "$E2E_WORK/setup.log" ]; then tail -n 20 "$E2E_WORK/setup.log" >&2; fi
  fi
  exit 1
}

# Work folder (MOFA_WORK from ctest, else a temporary one), tools, exit trap.
e2e_init() {
  E2E_NAME=$1
  # Failures inside $(...) end the script too.
  shopt -s inherit_errexit
  E2E_WORK=${MOFA_WORK:-$(mktemp -d "/tmp/mofa-e2e-$E2E_NAME.XXXXXX")}
  case $E2E_WORK in
    / | /tmp | "$HOME" | "$E2E_ROOT" | "") e2e_fail "refusing to use $E2E_WORK as the work folder" ;;
  esac
  rm -rf "$E2E_WORK"
  mkdir -p "$E2E_WORK"
  E2E_SHOTS=$E2E_WORK/screens
  mkdir -p "$E2E_SHOTS"
  export WINEDEBUG=${WINEDEBUG:--all}
  # xdotool compares the UTF-8 titles under the locale.
  export LC_ALL=zh_CN.UTF-8
  local tool
  # ctest reports exit code 77 as a skipped test.
  if e2e_real_product && reason=$(mofa_emulation_missing); then
    echo "[$E2E_NAME] SKIPPED: the real 32-bit product cannot run here: $reason (the bootstrap, run as root, installs it where the package index allows and says why where not)"
    exit 77
  fi
  for tool in Xvfb xdotool import convert "$MOFA_WINE" wineserver timeout flock; do
    command -v "$tool" >/dev/null || e2e_fail "$tool is not installed (run make bootstrap)"
  done
  [ -f "$MOFA_EXE" ] || e2e_fail "no program at $MOFA_EXE (build it with make win64)"
  trap e2e_cleanup EXIT
  trap 'exit 130' INT TERM
}

# A fresh prefix under the work folder; options as for scripts/wine-prefix.sh.
# Called again, it first ends the programs and the server of the last one.
e2e_prefix() {
  local dir=$E2E_WORK/prefix arg prev=
  if [ -n "$E2E_PREFIX" ] && [ -d "$E2E_PREFIX" ]; then
    WINEPREFIX=$E2E_PREFIX timeout 15 wineserver -k >/dev/null 2>&1 || true
    # The old server gone before its folder is made afresh: one still
    # saving its registry there would write over the new prefix's.
    WINEPREFIX=$E2E_PREFIX timeout 30 wineserver -w >/dev/null 2>&1 || true
    if [ -n "$E2E_SETUP_PID" ]; then wait "$E2E_SETUP_PID" 2>/dev/null || true; fi
    E2E_SETUP_PID=
  fi
  E2E_WOW64=1
  E2E_VERSION=win7
  for arg in "$@"; do
    [ "$arg" = --no-wow64 ] && E2E_WOW64=0
    [ "$prev" = --version ] && E2E_VERSION=$arg
    prev=$arg
  done
  # The first prefix of 32-bit Windows makes its template: minutes, if emulated.
  timeout 600 bash "$MOFA_SCRIPTS/wine-prefix.sh" "$dir" "$@" >"$E2E_WORK/prefix.log" 2>&1 ||
    e2e_fail "wine-prefix.sh $* failed: $(tail -n 5 "$E2E_WORK/prefix.log")"
  E2E_PREFIX=$dir
  export WINEPREFIX=$dir
  # One server for the whole run instead of one per wine process.
  wineserver -p
  e2e_log "prefix $dir ($*)"
}

# A private X server on the first free display.
e2e_start_x() {
  local fdfile=$E2E_WORK/xvfb.display i
  : >"$fdfile"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$fdfile" >"$E2E_WORK/xvfb.log" 2>&1 &
  E2E_XVFB_PID=$!
  for ((i = 0; i < 100; i++)); do
    if [ -s "$fdfile" ]; then
      export DISPLAY=:$(tr -d '[:space:]' <"$fdfile")
      e2e_log "Xvfb on $DISPLAY"
      return 0
    fi
    kill -0 "$E2E_XVFB_PID" 2>/dev/null || e2e_fail "Xvfb did not start: $(cat "$E2E_WORK/xvfb.log")"
    sleep 0.1
  done
  e2e_fail "Xvfb gave no display within 10 s"
}

# Runs the program in the background: e2e_start_setup [--lc LOCALE] [args...]
# LOCALE zh_CN.UTF-8 gives code page 936, zh_TW.UTF-8 code page 950,
# en_US.UTF-8 code page 1252.
e2e_start_setup() {
  E2E_LC=zh_CN.UTF-8
  if [ "${1:-}" = --lc ]; then
    E2E_LC=$2
    shift 2
  fi
  [ -n "$E2E_PREFIX" ] || e2e_fail "e2e_start_setup before e2e_prefix"
  rm -f "$E2E_WORK/setup.rc"
  E2E_RC=
  E2E_WINDOW=
  (
    cd "$E2E_WORK" || exit 1
    rc=0
    LC_ALL=$E2E_LC "$MOFA_WINE" "$MOFA_EXE" "$@" >"$E2E_WORK/setup.log" 2>&1 || rc=$?
    echo "$rc" >"$E2E_WORK/setup.rc"
  ) &
  E2E_SETUP_PID=$!
  e2e_log "started mofasetup.exe $* (LC_ALL=$E2E_LC)"
}

e2e_setup_running() { [ ! -f "$E2E_WORK/setup.rc" ]; }

# e2e_wait_exit SECONDS: waits for the program to end; its exit code goes to
# E2E_RC.
e2e_wait_exit() {
  local timeout=$((${1:-10} * E2E_PATIENCE)) deadline
  deadline=$(($(date +%s%N) / 1000000 + timeout * 1000))
  while e2e_setup_running; do
    (($(date +%s%N) / 1000000 < deadline)) || e2e_fail "mofasetup.exe still running after ${timeout} s"
    sleep 0.1
  done
  wait "$E2E_SETUP_PID" 2>/dev/null || true
  E2E_SETUP_PID=
  E2E_RC=$(cat "$E2E_WORK/setup.rc")
  e2e_log "mofasetup.exe ended with exit code $E2E_RC"
}

# The title the wizard has in this prefix and locale.
e2e_wizard_title() {
  case $E2E_LC in
    zh_TW*) echo "智能墨筏系統安裝" ;;
    *) if [ "$E2E_WOW64" = 1 ] && [[ $E2E_VERSION == win7 || $E2E_VERSION == win10 ]]; then echo "智能墨筏系统安装3264"; else echo "智能墨筏系统安装32"; fi ;;
  esac
}

# Visible windows whose title matches the regular expression, one id a line.
e2e_windows_named() { xdotool search --onlyvisible --name "$1" 2>/dev/null || true; }

# Finds the wizard window (E2E_WINDOW) and the offset of its client area.
e2e_find_wizard() {
  local timeout=$((${1:-20} * E2E_PATIENCE)) title id geometry w h end
  title=$(e2e_wizard_title)
  end=$((SECONDS + timeout))
  while :; do
    id=$(e2e_windows_named "^${title}\$" | head -n 1)
    [ -n "$id" ] && break
    e2e_setup_running || e2e_fail "mofasetup.exe ended (exit code $(cat "$E2E_WORK/setup.rc")) without showing \"$title\""
    ((SECONDS < end)) || e2e_fail "no window \"$title\" within ${timeout} s"
    sleep 0.2
  done
  E2E_WINDOW=$id
  geometry=$(xdotool getwindowgeometry --shell "$id") || e2e_fail "cannot read the geometry of window $id"
  w=$(sed -n 's/^WIDTH=//p' <<<"$geometry")
  h=$(sed -n 's/^HEIGHT=//p' <<<"$geometry")
  if [ "$w" = "$E2E_OUTER_W" ] && [ "$h" = "$E2E_OUTER_H" ]; then
    E2E_DX=$E2E_FRAME_DX
    E2E_DY=$E2E_FRAME_DY
  else
    E2E_DX=0
    E2E_DY=0
  fi
  e2e_log "wizard \"$title\" is window $id, ${w}x${h}, client offset ($E2E_DX,$E2E_DY)"
}

# e2e_click X Y [BUTTON]: a click at client coordinates of the wizard.
e2e_click() {
  local x=$1 y=$2 button=${3:-1}
  [ -n "$E2E_WINDOW" ] || e2e_fail "e2e_click before e2e_find_wizard"
  xdotool mousemove --window "$E2E_WINDOW" $((x + E2E_DX)) $((y + E2E_DY)) click "$button" ||
    e2e_fail "xdotool could not click at ($x,$y)"
}

# Types into the control that has the focus. Click into the field first: with
# no window manager the keys go to the window under the pointer.
e2e_type() { xdotool type --delay 25 -- "$1" || e2e_fail "xdotool could not type \"$1\""; }
e2e_key() { xdotool key --clearmodifiers "$@" || e2e_fail "xdotool could not press $*"; }

# e2e_shot NAME [WINDOW]: a PNG of the window (default the wizard) in the
# screenshot folder; prints its path.
e2e_shot() {
  local file=$E2E_SHOTS/$1.png window=${2:-$E2E_WINDOW}
  # import now and then hangs on a window that has just been clicked: bounded.
  timeout 10 import -window "$window" "$file" 2>>"$E2E_WORK/import.log" ||
    e2e_fail "cannot take a screenshot of window $window"
  echo "$file"
}

# e2e_pixel_raw PNG X Y: "r,g,b" of the image pixel at (X,Y).
e2e_pixel_raw() {
  local hex
  hex=$(convert "$1" -crop "1x1+$2+$3" +repage -depth 8 txt:- 2>/dev/null | grep -o '#[0-9A-Fa-f]\{6\}' | head -n 1)
  [ -n "$hex" ] || e2e_fail "cannot read pixel ($2,$3) of $1"
  printf '%d,%d,%d\n' "0x${hex:1:2}" "0x${hex:3:2}" "0x${hex:5:2}"
}

# e2e_pixel PNG X Y: the same for client coordinates of a wizard screenshot.
e2e_pixel() { e2e_pixel_raw "$1" $(($2 + E2E_DX)) $(($3 + E2E_DY)); }

# e2e_expect_pixel PNG X Y "r,g,b" WHAT
e2e_expect_pixel() {
  local got
  got=$(e2e_pixel "$1" "$2" "$3")
  [ "$got" = "$4" ] || e2e_fail "$5: pixel ($2,$3) of $(basename "$1") is ($got), expected ($4)"
}

# Background colours of the pages, row y of the client area.
e2e_splash_rgb() { echo "0,$(((2 * $1 - 112) & 255)),$((250 - 140 * $1 / 310))"; }
e2e_page_rgb() { echo "$((150 * $1 / 310)),$((255 * $1 / 310)),$((250 - 150 * $1 / 310))"; }

# e2e_page_of PNG: which page a wizard screenshot shows, from a few pixels:
# splash (its own background), progress (no buttons), installing (the
# confirm page with the progress bar drawn over it), site (field frame and
# white site field), confirm (field frame, no field), tryit (white field, no
# frame), or unknown.
e2e_page_of() {
  local png=$1 edge buttons frame field
  # Row 200 at the right edge: below the splash picture, beside every frame.
  edge=$(e2e_pixel "$png" 390 200)
  if [ "$edge" = "$(e2e_splash_rgb 200)" ]; then
    echo splash
    return
  fi
  if [ "$edge" != "$(e2e_page_rgb 200)" ]; then
    echo unknown
    return
  fi
  buttons=$(e2e_pixel "$png" 90 270)  # bottom edge of the OK button, black pen
  frame=$(e2e_pixel "$png" 362 192)   # top edge of the site-field frame, white pen
  field=$(e2e_pixel "$png" 340 205)   # inside the edit field when one is shown
  if [ "$buttons" != 0,0,0 ]; then
    echo progress
  elif [ "$(e2e_pixel "$png" 369 205)" = 0,0,0 ] || [ "$(e2e_pixel "$png" 31 205)" = 255,0,0 ]; then
    echo installing # the progress bar (black outline, red fill) over the confirm page
  elif [ "$frame" = 255,255,255 ] && [ "$field" = 255,255,255 ]; then
    echo site
  elif [ "$frame" = 255,255,255 ]; then
    echo confirm
  elif [ "$field" = 255,255,255 ]; then
    echo tryit
  else
    echo unknown
  fi
}

# e2e_wait_page PAGE TIMEOUT [SHOTNAME]: screenshots until the wizard shows
# PAGE; the last screenshot is kept as SHOTNAME (default PAGE); prints its path.
e2e_wait_page() {
  local want=$1 timeout=$((${2:-10} * E2E_PATIENCE)) name=${3:-$1} end file page=none
  end=$((SECONDS + timeout))
  while :; do
    file=$(e2e_shot "$name")
    page=$(e2e_page_of "$file")
    if [ "$page" = "$want" ]; then
      echo "$file"
      return 0
    fi
    e2e_setup_running || e2e_fail "mofasetup.exe ended while waiting for the $want page"
    ((SECONDS < end)) || e2e_fail "the wizard shows the $page page, not the $want page, after ${timeout} s"
    sleep 0.2
  done
}

# Captions of the program's message boxes.
E2E_BOX_TITLES='^智能墨筏(安装|\(墨筏五笔\)安装)?$'

# e2e_find_box TIMEOUT [REGEX]: waits for a message box; its id goes to E2E_BOX.
e2e_find_box() {
  local timeout=$((${1:-10} * E2E_PATIENCE)) regex=${2:-$E2E_BOX_TITLES} end
  end=$((SECONDS + timeout))
  E2E_BOX=
  while :; do
    E2E_BOX=$(e2e_windows_named "$regex" | grep -vx "${E2E_WINDOW:-none}" | head -n 1 || true)
    [ -n "$E2E_BOX" ] && return 0
    e2e_setup_running || e2e_fail "mofasetup.exe ended while waiting for a message box"
    ((SECONDS < end)) || e2e_fail "no message box within ${timeout} s"
    sleep 0.2
  done
}

# e2e_box_present [REGEX]: true when a message box is shown now (id in E2E_BOX).
e2e_box_present() {
  E2E_BOX=$(e2e_windows_named "${1:-$E2E_BOX_TITLES}" | grep -vx "${E2E_WINDOW:-none}" | head -n 1 || true)
  [ -n "$E2E_BOX" ]
}

# e2e_answer_box [WINDOW] [KEY]: presses KEY (default Return, the default
# button; "n" for the No of a Yes/No box) in the message box and waits until
# the box is gone.
e2e_answer_box() {
  local box=${1:-$E2E_BOX} key=${2:-Return} try i
  for ((try = 0; try < 3; try++)); do
    # With no window manager a box of a program without other windows is not
    # active and ignores keys: a click on its corner (away from the buttons
    # and the text) activates it first.
    xdotool mousemove --window "$box" 4 4 click 1 2>/dev/null || return 0
    sleep 0.2
    xdotool key --clearmodifiers "$key" 2>/dev/null || true
    for ((i = 0; i < 20; i++)); do
      [[ $(xwininfo -id "$box" 2>/dev/null || true) == *IsViewable* ]] || return 0
      sleep 0.1
    done
  done
  e2e_fail "message box $box did not close on $key"
}

# Wizard titles in every Windows kind and code page.
E2E_WIZARD_TITLES='^智能墨筏系(统安装32(64)?|統安裝)$'

# e2e_exit_byte CODE: what reaches the shell of a Windows exit code (its low
# 8 bits: 1603 arrives as 67).
e2e_exit_byte() { echo $(($1 & 255)); }

# e2e_silent_run [--rc CODE] ARGS...: runs setup and watches the screen until
# it ends; a wizard window or a message box fails the test, and so does an
# exit code other than CODE (default 0) or a run longer than
# E2E_SILENT_SECONDS (default 60).
e2e_silent_run() {
  local seconds=$((${E2E_SILENT_SECONDS:-60} * E2E_PATIENCE)) polls=0 shot want=0 end
  end=$((SECONDS + seconds))
  if [ "${1:-}" = --rc ]; then
    want=$2
    shift 2
  fi
  e2e_start_setup "$@"
  while e2e_setup_running; do
    if [ -n "$(e2e_windows_named "$E2E_WIZARD_TITLES")" ]; then
      e2e_fail "mofasetup.exe $* showed the wizard window"
    fi
    if e2e_box_present; then
      shot=$(e2e_shot "box-$polls" "$E2E_BOX")
      e2e_answer_box
      e2e_fail "mofasetup.exe $* showed a message box ($shot)"
    fi
    ((SECONDS < end)) || e2e_fail "mofasetup.exe $* still running after $seconds s"
    polls=$((polls + 1))
    sleep 0.2
  done
  e2e_wait_exit 1
  [ "$E2E_RC" = "$(e2e_exit_byte "$want")" ] ||
    e2e_fail "mofasetup.exe $* ended with exit code $E2E_RC, expected $want ($(e2e_exit_byte "$want"))"
  e2e_log "silent run \"$*\" watched $polls times, no window"
}

# The install log at its default place, %TEMP%\mofasetup.log, in the prefix.
e2e_log_file() { echo "$WINEPREFIX/drive_c/users/$(id -un)/Temp/mofasetup.log"; }

# e2e_prefix_path 'C:\windows\mofapath.mfh': the Unix path inside the prefix.
e2e_prefix_path() {
  local win=$1 rest
  rest=${win#[Cc]:}
  rest=${rest//\\//}
  echo "$WINEPREFIX/drive_c$rest"
}

# e2e_read_prefix_file 'C:\...': the file's bytes on stdout; fails if missing.
e2e_read_prefix_file() {
  local path
  path=$(e2e_prefix_path "$1")
  [ -f "$path" ] || e2e_fail "$1 does not exist in the prefix"
  cat "$path"
}

# The marker file to which the payload's stand-in modules and programs append
# a line each when Windows loads or starts them (resources/payload/standins):
#   ime <module path> <bits> <version> <payload name> [file <mapped file>] process <program path>
#   exe <program path> <bits> <version> <payload name> cmdline <command line>
e2e_marker_file() { e2e_prefix_path 'C:\windows\temp\mofa-standin.log'; }

# e2e_marker_has REGEX: true when a line of the marker file matches the
# extended regular expression (case ignored, as Windows ignores it in paths).
e2e_marker_has() {
  local file
  file=$(e2e_marker_file)
  [ -f "$file" ] && tr -d '\r' <"$file" | grep -qiE "$1"
}

# e2e_wait_marker SECONDS REGEX WHAT: waits for such a line (programs that
# setup starts are not waited for by setup).
e2e_wait_marker() {
  local end=$((SECONDS + $1 * E2E_PATIENCE))
  until e2e_marker_has "$2"; do
    ((SECONDS < end)) || e2e_fail "$3: no marker line matches $2 within $(($1 * E2E_PATIENCE)) s; the marker file has: $(cat "$(e2e_marker_file)" 2>/dev/null || echo nothing)"
    sleep 0.2
  done
}

# e2e_probe_ime 64|32: a program of that bitness activates the keyboard layout
# whose IME file is mofahu4.ime and opens an input context on a window of its
# own, which makes the input-method manager load the layout's module
# (tests/win/imeprobe.cpp). It runs as C:\imeprobe<BITS>.exe, away from any
# module of the same name, under the Chinese locale (wine activates only
# layouts of the locale's language).
# Where 32-bit programs cannot run here, the 32-bit probe is reported skipped
# (a SKIPPED line, which make test repeats at its end) and returns 1: the
# caller leaves out what depends on it, and the rest of the test runs.
e2e_probe_ime() {
  local bits=$1 exe=$MOFA_WIN_TESTS/imeprobe.exe loader=$MOFA_WINE64 rc=0 reason
  if [ "$bits" = 32 ] && reason=$(mofa_emulation_missing); then
    echo "[$E2E_NAME] SKIPPED: part: the 32-bit program's load of the 32-bit module: $reason"
    return 1
  fi
  if [ "$bits" = 32 ]; then
    exe=$MOFA_WIN_TESTS/imeprobe32.exe
    loader=$MOFA_WINE32
  fi
  [ -f "$exe" ] || e2e_fail "no $exe (build it with make win64)"
  cp "$exe" "$WINEPREFIX/drive_c/imeprobe$bits.exe"
  LC_ALL=zh_CN.UTF-8 timeout $((30 * E2E_PATIENCE)) "$loader" "C:\\imeprobe$bits.exe" >"$E2E_WORK/imeprobe$bits.log" 2>&1 || rc=$?
  [ "$rc" = 0 ] || e2e_fail "imeprobe ($bits-bit) ended with $rc: $(tr -d '\r' <"$E2E_WORK/imeprobe$bits.log")"
  e2e_log "imeprobe ($bits-bit): $(tr -d '\r' <"$E2E_WORK/imeprobe$bits.log" | tr '\n' ' ')"
}

# e2e_ime_line BITS PAYLOAD-NAME FOLDER: the marker line of the module of that
# bitness and payload name, version 7.9, loaded by e2e_probe_ime BITS from the
# system folder FOLDER (system32 or syswow64). A 32-bit process on 64-bit
# Windows is told the module lies in system32 (wine) or SysWOW64 (Windows);
# the file it was mapped from is SysWOW64's. Windows XP tells no mapped file.
e2e_ime_line() {
  echo "^ime c:\\\\windows\\\\(system32|syswow64)\\\\mofahu4\.ime $1 7\.9 $2( file [^ ]*\\\\windows\\\\$3\\\\mofahu4\.ime)? process c:\\\\imeprobe$1\.exe\$"
}

e2e_cleanup() {
  local status=$?
  trap - EXIT
  if [ -n "$E2E_SETUP_PID" ] && kill -0 "$E2E_SETUP_PID" 2>/dev/null; then
    kill "$E2E_SETUP_PID" 2>/dev/null || true
  fi
  if [ -n "$E2E_PREFIX" ] && [ -d "$E2E_PREFIX" ]; then
    # Ends every wine process of the prefix and the persistent server.
    WINEPREFIX=$E2E_PREFIX timeout 15 wineserver -k >/dev/null 2>&1 || true
  fi
  if [ -n "$E2E_SETUP_PID" ]; then wait "$E2E_SETUP_PID" 2>/dev/null || true; fi
  if [ -n "$E2E_XVFB_PID" ]; then
    kill "$E2E_XVFB_PID" 2>/dev/null || true
    wait "$E2E_XVFB_PID" 2>/dev/null || true
  fi
  # A script's own clean-up, when it has one.
  if declare -F e2e_extra_cleanup >/dev/null; then e2e_extra_cleanup; fi
  if [ "$status" = 0 ]; then e2e_log "passed in $((SECONDS - E2E_T0)) s"; fi
  exit "$status"
}
