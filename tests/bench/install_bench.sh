#!/usr/bin/env bash
# Install times under wine (not a test; part of `make bench`): the product's
# silent install and its silent upgrade beside the peer installer's silent
# install of the same files, each in a fresh prefix of the same kind (64-bit
# Windows 7, the 32-bit programs through the 32-bit loader), paired round by
# round; medians and their ratios. Then where the product's install time
# goes, step by step, from the timestamps of its install log.
#
#   install_bench.sh PRODUCT PEER-SETUP WORK-DIR [ROUNDS]
set -euo pipefail
product=$(readlink -f "$1") peer=$(readlink -f "$2") work=$3 rounds=${4:-5}
here=$(cd "$(dirname "$0")" && pwd)
scripts=$here/../../scripts
# shellcheck source=../../scripts/wine-env.sh
source "$scripts/wine-env.sh"
export WINEDEBUG=-all LC_ALL=zh_CN.UTF-8
if reason=$(mofa_emulation_missing); then
  # Every line of the table below, told as not measured, and why.
  for line in 'silent install, wine' 'silent upgrade, wine' 'NSIS silent install, wine' 'install / NSIS install' \
    'upgrade / NSIS install' "where the install's time goes" "where the upgrade's time goes"; do
    printf '%-40s not measured: the 32-bit programs cannot run here: %s\n' "$line:" "$reason"
  done
  exit 0
fi
mkdir -p "$work"
work=$(readlink -f "$work")
prefix=$work/prefix

# A fresh prefix on wine's null display driver (silent runs show nothing),
# its server kept running, warmed by one 32-bit process.
fresh_prefix() {
  if [ -d "$prefix" ]; then WINEPREFIX=$prefix timeout 15 wineserver -k >/dev/null 2>&1 || true; fi
  bash "$scripts/wine-prefix.sh" "$prefix" >"$work/prefix.log" 2>&1
  printf '\n[Software\\\\Wine\\\\Drivers] %s\n"Graphics"="null"\n' "$(date +%s)" >>"$prefix/user.reg"
  export WINEPREFIX=$prefix
  wineserver -p
  "$MOFA_WINE32" cmd /c exit >/dev/null 2>&1 || true
}

# run_timed OUT-VAR EXE ARGS...: seconds from the start of the process to
# its end; fails on a failing exit code (0 and 3010 are success).
run_timed() {
  local var=$1 start end rc=0
  shift
  start=$(date +%s.%N)
  "$MOFA_WINE32" "$@" >/dev/null 2>&1 || rc=$?
  end=$(date +%s.%N)
  if [ "$rc" != 0 ] && [ "$rc" != $((3010 % 256)) ]; then
    echo "install bench: $* ended with $rc" >&2
    exit 1
  fi
  printf -v "$var" '%s' "$(echo "$end - $start" | bc)"
}

cp "$product" "$work/mofasetup.exe"
cp "$peer" "$work/peer-setup.exe"
ours=() upgrades=() peers=()
logs=()
for ((round = 1; round <= rounds; round++)); do
  fresh_prefix
  cp "$work/peer-setup.exe" "$prefix/drive_c/peer-setup.exe"
  run_timed t 'C:\peer-setup.exe'
  peers+=("$t")

  fresh_prefix
  cp "$work/mofasetup.exe" "$prefix/drive_c/mofasetup.exe"
  run_timed t 'C:\mofasetup.exe' setmfsrf32 '/log=C:\install.log'
  ours+=("$t")
  cp "$prefix/drive_c/install.log" "$work/install-$round.log"
  logs+=("$work/install-$round.log")
  # The upgrade over it, with the user's own data to keep.
  dir=$prefix/drive_c/Program\ Files/mofahu
  printf '%s' "$(printf '词组; 词语; 智能; ' | iconv -f UTF-8 -t GBK)" >"$dir/mofacyzk.mfh"
  cp "$dir/mfszsj43.mfh" "$dir/mfszsj43.bak" 2>/dev/null || true
  run_timed t 'C:\mofasetup.exe' setmfsrf32 '/log=C:\upgrade.log'
  upgrades+=("$t")
  cp "$prefix/drive_c/upgrade.log" "$work/upgrade-$round.log"
done
WINEPREFIX=$prefix timeout 15 wineserver -k >/dev/null 2>&1 || true
rm -rf "$prefix"

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
m_ours=$(median "${ours[@]}") m_upgrade=$(median "${upgrades[@]}") m_peer=$(median "${peers[@]}")
printf 'silent install, wine (median of %d):     %8.3f s\n' "$rounds" "$m_ours"
printf 'silent upgrade, wine (median of %d):     %8.3f s\n' "$rounds" "$m_upgrade"
printf 'NSIS silent install, wine (median of %d):%8.3f s\n' "$rounds" "$m_peer"
awk -v a="$m_ours" -v b="$m_peer" 'BEGIN { printf "install / NSIS install:                  %8.3f (goal: at most 1.5)\n", a / b }'
awk -v a="$m_upgrade" -v b="$m_peer" 'BEGIN { printf "upgrade / NSIS install:                  %8.3f (goal: at most 2)\n", a / b }'
echo "where the install's time goes (from its log, median of $rounds):"
python3 "$here/log_steps.py" "${logs[@]}"
echo "where the upgrade's time goes:"
python3 "$here/log_steps.py" "$work"/upgrade-*.log
