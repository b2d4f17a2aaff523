#!/usr/bin/env bash
# Install times under wine (not a test; part of `make bench`), paired round by
# round with the peer installer's silent install of the same files; medians
# and their ratios, then where setup's time goes, step by step, from the
# timestamps of its install logs.
#
# Setup's own time: each program in a fresh prefix whose wine server is
# already running and warmed by one process, so that wine's start-up (some
# seconds for a prefix's first process) stays out: the 64-bit build beside
# NSIS's amd64 installer, and, where 32-bit programs run, the product beside
# NSIS's x86 one. Each round also runs setup with fsync made a no-op
# (eatmydata): the difference is what its flushes to the disk cost; and one
# traced run counts them. Where 32-bit programs run, the cold-prefix figure
# (wine's start-up included) follows, as measured before.
#
#   install_bench.sh PRODUCT TWIN PEER-X86 PEER-AMD64 WORK-DIR [ROUNDS]
set -euo pipefail
product=$(readlink -f "$1") twin=$(readlink -f "$2") peer32=$(readlink -f "$3") peer64=$(readlink -f "$4")
work=$5 rounds=${6:-5}
here=$(cd "$(dirname "$0")" && pwd)
scripts=$here/../../scripts
# shellcheck source=../../scripts/wine-env.sh
source "$scripts/wine-env.sh"
export WINEDEBUG=-all LC_ALL=zh_CN.UTF-8
mkdir -p "$work"
work=$(readlink -f "$work")
prefix=$work/prefix
rm -f "$work"/*.log

# A fresh prefix on wine's null display driver (silent runs show nothing),
# its server kept running, warmed by one process of the loader given.
fresh_prefix() {  # fresh_prefix LOADER [cold]
  if [ -d "$prefix" ]; then WINEPREFIX=$prefix timeout 15 wineserver -k >/dev/null 2>&1 || true; fi
  WINEPREFIX=$prefix timeout 30 wineserver -w >/dev/null 2>&1 || true
  bash "$scripts/wine-prefix.sh" "$prefix" >"$work/prefix.log" 2>&1
  printf '\n[Software\\\\Wine\\\\Drivers] %s\n"Graphics"="null"\n' "$(date +%s)" >>"$prefix/user.reg"
  export WINEPREFIX=$prefix
  wineserver -p
  [ "${2:-}" = cold ] || "$1" cmd /c exit >/dev/null 2>&1 || true
}

# run_timed OUT-VAR LOADER EXE ARGS...: seconds from the start of the process
# to its end; fails on a failing exit code (0 and 3010 are success).
run_timed() {
  local var=$1 start end rc=0
  shift
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || rc=$?
  end=$(date +%s.%N)
  if [ "$rc" != 0 ] && [ "$rc" != $((3010 % 256)) ]; then
    echo "install bench: $* ended with $rc" >&2
    exit 1
  fi
  printf -v "$var" '%s' "$(echo "$end - $start" | bc)"
}

# The user's own data, for the upgrade to keep.
seed_user_data() {
  local dir=$prefix/drive_c/Program\ Files/mofahu
  printf '%s' "$(printf '词组; 词语; 智能; ' | iconv -f UTF-8 -t GBK)" >"$dir/mofacyzk.mfh"
  cp "$dir/mfszsj43.mfh" "$dir/mfszsj43.bak" 2>/dev/null || true
}

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
line() { printf '%-44s%8.3f s\n' "$1:" "$2"; }
ratio() { awk -v a="$2" -v b="$3" -v t="$1" -v g="$4" 'BEGIN { printf "%-44s%8.3f%s\n", t ":", a / b, g }'; }

# One bitness: setup and NSIS paired, setup again without flushes; LABEL
# names the pair in the table, TAG the logs.
measure() {  # measure LABEL TAG LOADER SETUP PEER
  local label=$1 tag=$2 loader=$3 setup=$4 peer=$5 round t
  local ours=() upgrades=() peers=() nosync=() nosync_up=()
  for ((round = 1; round <= rounds; round++)); do
    fresh_prefix "$loader"
    cp "$peer" "$prefix/drive_c/peer-setup.exe"
    run_timed t "$loader" 'C:\peer-setup.exe'
    peers+=("$t")
    fresh_prefix "$loader"
    cp "$setup" "$prefix/drive_c/mofasetup.exe"
    run_timed t "$loader" 'C:\mofasetup.exe' setmfsrf32 '/log=C:\install.log'
    ours+=("$t")
    seed_user_data
    run_timed t "$loader" 'C:\mofasetup.exe' setmfsrf32 '/log=C:\upgrade.log'
    upgrades+=("$t")
    cp "$prefix/drive_c/install.log" "$work/$tag-install-$round.log"
    cp "$prefix/drive_c/upgrade.log" "$work/$tag-upgrade-$round.log"
    fresh_prefix "$loader"
    cp "$setup" "$prefix/drive_c/mofasetup.exe"
    run_timed t eatmydata "$loader" 'C:\mofasetup.exe' setmfsrf32
    nosync+=("$t")
    seed_user_data
    run_timed t eatmydata "$loader" 'C:\mofasetup.exe' setmfsrf32
    nosync_up+=("$t")
  done
  # The flushes of one install and one upgrade, counted.
  fresh_prefix "$loader"
  cp "$setup" "$prefix/drive_c/mofasetup.exe"
  strace -f -qq -e trace=fsync,fdatasync -o "$work/$tag-install.strace" "$loader" 'C:\mofasetup.exe' setmfsrf32 >/dev/null 2>&1 || true
  seed_user_data
  strace -f -qq -e trace=fsync,fdatasync -o "$work/$tag-upgrade.strace" "$loader" 'C:\mofasetup.exe' setmfsrf32 >/dev/null 2>&1 || true
  WINEPREFIX=$prefix timeout 15 wineserver -k >/dev/null 2>&1 || true
  rm -rf "$prefix"

  local m_ours m_up m_peer m_ns m_nsu
  m_ours=$(median "${ours[@]}") m_up=$(median "${upgrades[@]}") m_peer=$(median "${peers[@]}")
  m_ns=$(median "${nosync[@]}") m_nsu=$(median "${nosync_up[@]}")
  echo "$label, setup's own time (warm server; median of $rounds):"
  line "  silent install" "$m_ours"
  line "  silent upgrade with user data" "$m_up"
  line "  NSIS silent install" "$m_peer"
  ratio "  install / NSIS install" "$m_ours" "$m_peer" " (goal: at most 1.5)"
  ratio "  upgrade / NSIS install" "$m_up" "$m_peer" " (goal: at most 2)"
  printf '%-44s%8d and %d\n' "  flushes (fsync) of an install and an upgrade:" \
    "$(grep -c 'fsync\|fdatasync' "$work/$tag-install.strace" || true)" "$(grep -c 'fsync\|fdatasync' "$work/$tag-upgrade.strace" || true)"
  line "  silent install without flushes" "$m_ns"
  line "  silent upgrade without flushes" "$m_nsu"
  awk -v a="$m_ours" -v b="$m_ns" -v c="$m_up" -v d="$m_nsu" \
    'BEGIN { printf "%-44s%8.3f s and %.3f s\n", "  what the flushes add to them:", a - b, c - d }'
  echo "  where the install's time goes (from its log, median of $rounds):"
  python3 "$here/log_steps.py" "$work/$tag"-install-*.log | sed 's/^/  /'
  echo "  where the upgrade's time goes:"
  python3 "$here/log_steps.py" "$work/$tag"-upgrade-*.log | sed 's/^/  /'
}

command -v eatmydata >/dev/null || { echo "install bench: eatmydata is not installed (run make bootstrap)" >&2; exit 1; }
measure "64-bit build beside NSIS amd64, wine64" twin64 "$MOFA_WINE64" "$twin" "$peer64"

if reason=$(mofa_emulation_missing); then
  # Every line the 32-bit programs would give, told as not measured, and why.
  for l in 'the product beside NSIS x86, setup'"'"'s own time' 'the product, cold prefix (wine start-up included)'; do
    printf '%-44s not measured: the 32-bit programs cannot run here: %s\n' "$l:" "$reason"
  done
  exit 0
fi
measure "the product beside NSIS x86, 32-bit wine" product32 "$MOFA_WINE32" "$product" "$peer32"

# The cold-prefix figure: each run the first process of a fresh prefix.
ours=() peers=()
for ((round = 1; round <= rounds; round++)); do
  fresh_prefix "$MOFA_WINE32" cold
  cp "$peer32" "$prefix/drive_c/peer-setup.exe"
  run_timed t "$MOFA_WINE32" 'C:\peer-setup.exe'
  peers+=("$t")
  fresh_prefix "$MOFA_WINE32" cold
  cp "$product" "$prefix/drive_c/mofasetup.exe"
  run_timed t "$MOFA_WINE32" 'C:\mofasetup.exe' setmfsrf32
  ours+=("$t")
done
WINEPREFIX=$prefix timeout 15 wineserver -k >/dev/null 2>&1 || true
rm -rf "$prefix"
echo "the product, cold prefix (wine's start-up included; median of $rounds):"
line "  silent install" "$(median "${ours[@]}")"
line "  NSIS silent install" "$(median "${peers[@]}")"
ratio "  install / NSIS install" "$(median "${ours[@]}")" "$(median "${peers[@]}")" ""
