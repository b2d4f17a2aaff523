#!/usr/bin/env bash
# Signs the program with Authenticode: `make sign PFX=vendor.pfx PASS=...`
# (and TIMESTAMP=http://... to have the signature time-stamped, for vendors
# with network access).
#
#   sign.sh PROGRAM PFX PASSWORD [TIMESTAMP-URL] [DESCRIPTION-URL]
set -euo pipefail
program=$1 pfx=$2 pass=$3 stamp=${4:-} url=${5:-}
command -v osslsigncode >/dev/null || { echo "sign: osslsigncode is not installed (run make bootstrap)" >&2; exit 1; }
[ -f "$pfx" ] || { echo "sign: no certificate file $pfx" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The password goes to osslsigncode in a file only this user reads, not on
# its command line.
umask 077
printf '%s' "$pass" >"$work/pass"
args=(sign -pkcs12 "$pfx" -readpass "$work/pass" -n "智能墨筏输入平台" -h sha256)
[ -z "$url" ] || args+=(-i "$url")
[ -z "$stamp" ] || args+=(-ts "$stamp")
osslsigncode "${args[@]}" -in "$program" -out "$work/signed.exe" >"$work/log" 2>&1 ||
  { cat "$work/log" >&2; exit 1; }
chmod 755 "$work/signed.exe"
mv "$work/signed.exe" "$program"
echo "signed $program"
