#!/usr/bin/env bash
# Runs the archive fuzzer for a set time from the seeds of this folder.
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
mkdir -p "$work/corpus" "$work/artifacts"
exec "$fuzzer" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=65536 \
  -artifact_prefix="$work/artifacts/" -print_final_stats=1 "$work/corpus" "$here/seeds"
