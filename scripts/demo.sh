#!/usr/bin/env bash
# make demo: the 64-bit build of setup walked page by page in a fresh wine
# prefix under a private Xvfb, as a user would: splash, site page with an
# address typed, confirm page, then on through whatever the install shows
# (progress, message boxes, try-it page) until the program ends.
#
#   demo.sh BUILD      (BUILD is the build folder; nothing is built here)
#
# Screenshots: BUILD/screens/NN-name.png. Prints the recorded install path and
# the files found in the install directory.
set -euo pipefail
build=$(cd "${1:?usage: demo.sh BUILD}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
export MOFA_EXE=$build/win64/mofasetup.exe
export MOFA_SCRIPTS=$root/scripts
export MOFA_WORK=$build/demo
# shellcheck source=../tests/e2e/lib.sh
source "$root/tests/e2e/lib.sh"

SITE='www.example.gov.cn'
TRY_TEXT='mofa'
# Seconds the walk may take after the confirm page's OK.
INSTALL_LIMIT=75

e2e_init demo
E2E_SHOTS=$build/screens
mkdir -p "$E2E_SHOTS"
rm -f "$E2E_SHOTS"/[0-9][0-9]-*.png
shots=0

# shot NAME [WINDOW]: the next numbered screenshot.
shot() {
  shots=$((shots + 1))
  local file
  file=$(e2e_shot "$(printf '%02d-%s' "$shots" "$1")" "${2:-$E2E_WINDOW}")
  echo "  screenshot $file"
}

# wait_page PAGE: waits for the page and keeps its numbered screenshot.
wait_page() {
  shots=$((shots + 1))
  local file
  file=$(e2e_wait_page "$1" 15 "$(printf '%02d-%s' "$shots" "$1")")
  echo "  screenshot $file"
}

# Message boxes and the skin dialog (its default button is OK).
BOXES='^智能墨筏(安装|\(墨筏五笔\)安装|皮肤及窗口模式选择)?$'

# answer_boxes: screenshots and answers every message box or dialog now shown.
answer_boxes() {
  local answered=1 title
  while e2e_box_present "$BOXES"; do
    title=$(xdotool getwindowname "$E2E_BOX" 2>/dev/null || true)
    e2e_log "\"$title\": answered with Return"
    if [[ $title == *皮肤* ]]; then shot skin "$E2E_BOX"; else shot message "$E2E_BOX"; fi
    e2e_answer_box
    answered=0
  done
  return $answered
}

e2e_prefix
e2e_start_x
e2e_start_setup
e2e_find_wizard 30

# --- the pages before the install -----------------------------------------
wait_page splash
e2e_click 90 257

wait_page site
e2e_click 245 205
sleep 0.3
e2e_key ctrl+a
e2e_type "$SITE"
sleep 0.3
shot site-typed
e2e_click 90 257

wait_page confirm
e2e_click 90 257
e2e_log "install confirmed"

# --- on as far as the program goes ----------------------------------------
# The install runs inside the click; the window shows the progress page
# meanwhile (repainted as the install goes on) besides the message boxes and
# the skin dialog. Each page seen for the first time is photographed; the
# try-it page is typed into and left with OK.
declare -A seen=()
tryit_clicks=0
page=none
end=$((SECONDS + INSTALL_LIMIT))
while e2e_setup_running; do
  ((SECONDS < end)) || e2e_fail "the program still runs ${INSTALL_LIMIT} s after the install was confirmed ($page page shown)"
  if answer_boxes; then continue; fi
  now=$(e2e_shot current 2>/dev/null) || break # the window is gone
  page=$(e2e_page_of "$now" 2>/dev/null) || break
  case $page in
    tryit)
      if [ -z "${seen[tryit]:-}" ]; then
        seen[tryit]=1
        shot tryit
        e2e_click 235 205
        sleep 0.3
        e2e_type "$TRY_TEXT"
        sleep 0.3
        shot tryit-typed
      fi
      # OK on page 8 shows page 9 (it looks the same); OK on page 9 ends the
      # run. No third click: the closing message has no owner window, so the
      # wizard would still take clicks while it is shown.
      if ((tryit_clicks < 2)); then
        e2e_click 90 257
        tryit_clicks=$((tryit_clicks + 1))
        sleep 0.7
      fi
      ;;
    *)
      [ -n "${seen[$page]:-}" ] || shot "$page"
      seen[$page]=1
      ;;
  esac
  sleep 0.3
done
rm -f "$E2E_SHOTS/current.png"
e2e_wait_exit 10
e2e_log "setup ended with exit code $E2E_RC after $shots screenshots"

# --- what the installer left ------------------------------------------------
echo "Install path recorded in C:\\windows\\mofapath.mfh:"
path_file=$(e2e_prefix_path 'C:\windows\mofapath.mfh')
if [ -f "$path_file" ]; then
  echo "  $(cat "$path_file")"
else
  echo "  (no path file)"
fi
install_dir=$(e2e_prefix_path 'C:\Program Files\mofahu')
echo "Files in C:\\Program Files\\mofahu\\:"
if [ -d "$install_dir" ]; then
  count=0
  while IFS= read -r -d '' f; do
    printf '  %9d  %s\n' "$(stat -c %s "$f")" "${f#"$install_dir"/}"
    count=$((count + 1))
  done < <(find "$install_dir" -type f -print0 | sort -z)
  echo "  ($count files)"
else
  echo "  (no install directory)"
fi
echo "Screenshots in $E2E_SHOTS:"
ls -1 "$E2E_SHOTS" | sed 's/^/  /'
[ "$E2E_RC" = 0 ] || e2e_fail "setup ended with exit code $E2E_RC"
