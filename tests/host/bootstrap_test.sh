#!/usr/bin/env bash
# scripts/bootstrap.sh against stand-ins for apt-get, dpkg-query, dpkg and the
# locale tools on PATH, so that nothing on this machine is installed or
# registered: an index refresh that fails as a mirror in sync does is a
# warning and the install goes on; an install that fails ends non-zero and
# names its package and the index; a wine32:i386 that cannot be installed is
# told in one line.
set -euo pipefail
script=$(cd "$(dirname "$0")/../.." && pwd)/scripts/bootstrap.sh
work=$(mktemp -d /tmp/mofa-bootstrap-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/binfmt"
fail() { echo "FAIL: $*" >&2; echo "--- calls:" >&2; cat "$work/calls" >&2; echo "--- output:" >&2; cat "$work/out" >&2; exit 1; }

# The stand-ins: every call is noted in calls; MISSING names the packages
# dpkg-query reports absent, INSTALL_FAILS those apt-get cannot install.
stand_in() { printf '#!/usr/bin/env bash\necho "%s $*" >>"%s/calls"\n%s\n' "$1" "$work" "$2" >"$work/bin/$1"; chmod +x "$work/bin/$1"; }
stand_in apt-get '
if [ "$1" = update ]; then
  echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]" >&2
  echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
  exit 100
fi
for p in "$@"; do
  case " $INSTALL_FAILS " in *" $p "*) echo " $p : Depends: libc6:i386 but it is not going to be installed" >&2; echo "E: Unable to correct problems, you have held broken packages." >&2; exit 100 ;; esac
done'
stand_in dpkg-query 'p=${@: -1}; case " $MISSING " in *" $p "*) exit 1 ;; esac; echo "install ok installed"'
stand_in dpkg 'case $1 in --print-foreign-architectures) echo i386 ;; esac'
stand_in id 'echo 0'
stand_in locale 'printf "%s\n" zh_CN.utf8 zh_TW.utf8 en_US.utf8 ja_JP.utf8'
stand_in localedef 'exit 0'
stand_in mount 'exit 1'
stand_in wine32 'exit 0'

run() {  # run MISSING INSTALL_FAILS: the bootstrap's exit code in rc
  : >"$work/calls"
  rc=0
  env PATH="$work/bin:$PATH" MISSING="$1" INSTALL_FAILS="$2" MOFA_APT_PAUSE=0 MOFA_WINE32="$work/bin/wine32" \
    MOFA_BINFMT_DIR="$work/binfmt" MOFA_APT_LISTS="$work/lists" bash "$script" >"$work/out" 2>&1 || rc=$?
}

# The refresh fails three times; the install goes on and succeeds.
run nsis ""
[ "$rc" = 0 ] || fail "a failed refresh with a good install ended $rc"
[ "$(grep -c '^apt-get update' "$work/calls")" = 3 ] || fail "the refresh was not tried three times"
grep -q '^apt-get install .* nsis$' "$work/calls" || fail "nsis was not installed"
grep -q 'warning: the package index did not refresh' "$work/out" || fail "no warning for the refresh"
grep -q 'bookworm-security/main/binary-i386/Packages.xz' "$work/out" || fail "the warning does not name the index"

# The install fails too: an error naming the package and the index.
run nsis nsis
[ "$rc" != 0 ] || fail "a failed install ended 0"
grep -q 'could not install: nsis' "$work/out" || fail "the failure does not name nsis"
grep -q 'indexes that did not download:' "$work/out" || fail "the failure does not name the index"

# wine32:i386 cannot be installed: one line saying so and what skips; exit 0.
run wine32:i386 wine32:i386
[ "$rc" = 0 ] || fail "a wine32 that cannot be installed ended $rc"
[ "$(grep -c 'wine32:i386 cannot be installed' "$work/out")" = 1 ] || fail "not one line for wine32"
grep -q 'will be skipped' "$work/out" || fail "the wine32 line does not say what is skipped"
! grep -q '^mount\|binfmt' "$work/calls" || fail "an emulator was set up for a wine32 that is not there"

# All present: nothing refreshed or installed.
run "" ""
[ "$rc" = 0 ] && [ ! -s "$work/out" ] || fail "a machine with everything ended $rc or printed something"
! grep -q '^apt-get' "$work/calls" || fail "apt-get ran on a machine with everything"
echo "bootstrap: 4 cases passed"
