#!/usr/bin/env bash
# The set-up script's retry and degrade paths, with apt, dpkg and dpkg-query replaced by stubs on
# PATH: nothing is installed and nothing is fetched.
set -u
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
passed=0
failed=0
check() {
  if eval "$2"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $1" >&2; fi
}

# stubs <dir>: apt-get fails the calls numbered in $STUB_FAIL_CALLS, and every call whose arguments
# match $STUB_FAIL_MATCH, with $STUB_ERROR; an install that succeeds marks its packages installed.
stubs() {
  local bin=$1/bin
  mkdir -p "$bin"
  cat >"$bin/apt-get" <<'STUB'
#!/usr/bin/env bash
n=$(( $(cat "$STUB_DIR/calls" 2>/dev/null || echo 0) + 1 ))
echo $n >"$STUB_DIR/calls"
echo "apt-get $*" >>"$STUB_DIR/log"
if [[ " $STUB_FAIL_CALLS " == *" $n "* ]] || { [ -n "${STUB_FAIL_MATCH:-}" ] && [[ "$*" == *$STUB_FAIL_MATCH* ]]; }; then
  echo "$STUB_ERROR" >&2
  exit 100
fi
[[ "$*" == *install* ]] && echo "$*" >>"$STUB_DIR/installed"
exit 0
STUB
  cat >"$bin/dpkg-query" <<'STUB'
#!/usr/bin/env bash
echo "dpkg-query $*" >>"$STUB_DIR/log"
case "$*" in
  *'${Version}'*wine64) echo 8.0~repack-4 ;;
  *wine32:i386* | *qemu-user-static*) exit 1 ;;
  *) shift 2; for p in "$@"; do
       grep -qw -- "$p" "$STUB_DIR/installed" 2>/dev/null && echo "install ok installed" || echo "unknown ok not-installed"
     done ;;
esac
STUB
  cat >"$bin/dpkg" <<'STUB'
#!/usr/bin/env bash
echo "dpkg $*" >>"$STUB_DIR/log"
[ "$1" = --print-foreign-architectures ] && cat "$STUB_DIR/arches" 2>/dev/null
[ "$1" = --add-architecture ] && echo "$2" >>"$STUB_DIR/arches"
exit 0
STUB
  chmod +x "$bin"/*
  mkdir -p "$1/sources" "$1/binfmt" "$1/deps"
  touch "$1/binfmt/register"
}

# run_setup <name> [setup arguments]: a fresh stubbed machine; prints the exit status.
run_setup() {
  local dir=$WORK/$1
  shift
  stubs "$dir"
  STUB_DIR=$dir PATH=$dir/bin:$PATH VANTOR_DEPS=$dir/deps VANTOR_SETUP_LOCK=$dir/lock \
    VANTOR_APT_PAUSE=0 VANTOR_APT_SOURCES=$dir/sources VANTOR_BINFMT=$dir/binfmt \
    VANTOR_SETUP_ONLY=packages bash "$ROOT/scripts/setup.sh" "$@" >"$dir/out" 2>&1
  echo $?
}

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
export STUB_ERROR="E: Failed to fetch http://deb.example/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"

# Two failed updates and a failed install are tried again; the run command's set-up never
# touches i386, backports or 32-bit Wine.
status=$(STUB_FAIL_CALLS="1 2 4" run_setup retried)
check "set-up completes after failed tries" '[ "$status" = 0 ]'
check "six apt calls: three updates, two installs, then the peer tools" '[ "$(cat $WORK/retried/calls)" = 6 ]'
check "each failed try is reported" '[ "$(grep -c "failed: apt-get" $WORK/retried/out)" = 3 ]'
check "the run set-up never touches i386" '! grep -qiE "i386|backports|wine32|add-architecture" $WORK/retried/log'
check "each step says how long it took" 'grep -qE "^setup: packages: [0-9]+ s$" $WORK/retried/out'

# An index that never downloads (a foreign architecture's, say) does not stop the install.
status=$(STUB_FAIL_MATCH=update run_setup stale_index)
check "a broken index alone does not fail set-up" '[ "$status" = 0 ]'
check "the broken index is said" 'grep -q "going on with the package lists already here" $WORK/stale_index/out'

# Packages the build needs that cannot be had fail the set-up, with apt's reason.
status=$(STUB_FAIL_MATCH=install run_setup no_packages)
check "missing build packages fail set-up" '[ "$status" = 1 ]'
check "the failure gives apt's reason" 'grep -q "FAILED: the build.s packages could not be installed: E: Failed to fetch" $WORK/no_packages/out'

# A peer tool that cannot be had is said and recorded; the others still come and set-up completes.
status=$(STUB_FAIL_MATCH=gcab run_setup no_gcab)
check "set-up without one peer tool completes" '[ "$status" = 0 ]'
check "the other peer tools are installed one by one" 'grep -q "install.* jlha-utils$" $WORK/no_gcab/log'
check "the missing tool is said and recorded" 'grep -q "peer tool gcab SKIPPED" $WORK/no_gcab/out &&
  grep -q "^gcab: E: Failed to fetch" $WORK/no_gcab/deps/peer-tools-missing'

# 32-bit Wine that cannot be installed is skipped, recorded with apt's reason, and named by the
# test command through wine32_unavailable; the 64-bit set-up still completes.
export STUB_ERROR="E: Error, pkgProblemResolver::Resolve generated breaks, this may be caused by held packages."
status=$(STUB_FAIL_MATCH=wine32 run_setup no_wine32 --win32)
check "set-up with a failed wine32 still completes" '[ "$status" = 0 ]'
check "wine32 was tried three times" '[ "$(grep -c "wine32:i386=8.0~repack-4" $WORK/no_wine32/log)" = 3 ]'
check "i386 was added for the test set-up" 'grep -qx i386 $WORK/no_wine32/arches'
reason=$(VANTOR_DEPS=$WORK/no_wine32/deps bash -c "source '$ROOT/scripts/wine-env.sh' && wine32_unavailable")
check "the skip names apt's reason" '[ "$reason" = "wine32 could not be installed: $STUB_ERROR" ]'
check "set-up says the skip" 'grep -q "32-bit runs SKIPPED: wine32 could not be installed: E: Error" $WORK/no_wine32/out'

# Once 32-bit Wine installs, the recorded skip is gone.
status=$(run_setup wine32_ok --win32)
check "set-up with wine32 completes" '[ "$status" = 0 ]'
check "no skip is recorded" '[ ! -e $WORK/wine32_ok/deps/win32-unavailable ]'
check "qemu-i386 is registered" 'grep -q "qemu-i386" $WORK/wine32_ok/binfmt/register'

[ $failed -eq 0 ] || { echo "--- last output:" >&2; cat "$WORK"/*/out >&2; }
echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
