#!/usr/bin/env bash
# Runs one fuzzer for a set time from its seeds in this folder
# (seeds/archive for archive_fuzz, seeds/input for input_fuzz).
#
#   run.sh FUZZER SECONDS WORKDIR
#
# New inputs go to WORKDIR/corpus; a crash leaves its input in
# WORKDIR/artifacts and fails the run.
set -euo pipefail
fuzzer=$1
seconds=$2
work=$3
here=$(cd "$(dirname "$0")" && pwd)
name=$(basename "$fuzzer")
seeds=$here/seeds/${name%_fuzz}
[ -d "$seeds" ] || { echo "run.sh: no seeds for $name in $seeds" >&2; exit 2; }
# The restore reads whole archives: short inputs keep it to small ones.
max_len=65536
[ "$name" = input_fuzz ] && max_len=16384
mkdir -p "$work/corpus" "$work/artifacts"
exec "$fuzzer" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=$max_len \
  -artifact_prefix="$work/artifacts/" -print_final_stats=1 "$work/corpus" "$seeds"
