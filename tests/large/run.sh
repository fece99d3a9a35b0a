#!/usr/bin/env bash
# Archives past 4 GiB with one Windows build's archiver under Wine (i686 under 32-bit Wine, x86_64
# under wine64): a sparse member just over 4 GiB compressed with zstd into a .vnr and deflated into
# a self-extracting .exe (which is always written with deflate), and stored into a self-extracting
# .exe whose later index entries lie past 4 GiB. The front end's walk, size text and marks run on
# all three (win_tests LargeArchive), then the marked members are extracted and compared byte for byte.
# Needs 12 GB free; exits 77 (ctest: skipped) otherwise. Usage: tests/large/run.sh <build dir>
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$(cd "$1" && pwd)
RUN=$ROOT/scripts/wine-run.sh
WORK=$BUILD/large
rm -rf "$WORK"
free_kb=$(df -Pk "$BUILD" | awk 'NR == 2 { print $4 }')
if [ "$free_kb" -lt $((12 * 1024 * 1024)) ]; then
  echo "SKIPPED: large.archive: $((free_kb / 1024 / 1024)) GB free in $BUILD, 12 GB needed"
  exit 77
fi
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/in" "$WORK/out-vnr" "$WORK/out-sfx" "$WORK/out-deflated"

win() { local p=${1//\//\\}; echo "Z:$p"; }
step_start=$(date +%s)
step() {
  local now
  now=$(date +%s)
  echo "large: $1 ($((now - step_start)) s)"
  step_start=$now
}
fail() { echo "FAIL: $*" >&2; exit 1; }
# Whether two files hold the same bytes, compared in 4 MiB blocks: hashing 4 GiB took 20 s a file.
same_bytes() {
  python3 -c 'import sys
with open(sys.argv[1], "rb") as a, open(sys.argv[2], "rb") as b:
    while True:
        x, y = a.read(1 << 22), b.read(1 << 22)
        if x != y:
            sys.exit(1)
        if not x:
            break' "$1" "$2"
}

# 4 GiB + 1 MiB + 1000 bytes, zeros but for text across each boundary a 32-bit size or offset
# would cut.
BIG=$WORK/in/a_big.bin
SIZE=$(((1 << 32) + (1 << 20) + 1000))
truncate -s $SIZE "$BIG"
for at in 0 $((1 << 31)) $((1 << 32)) $((SIZE - 64)); do
  from=$((at > 40 ? at - 40 : 0))
  printf 'bytes from %d, across %d, of the large member' $from $at |
    dd of="$BIG" bs=4096 seek=$from oflag=seek_bytes conv=notrunc status=none
done
[ "$(stat -c %s "$BIG")" = $SIZE ] || fail "the markers changed the member's size"
echo "first small member" >"$WORK/in/b1.txt"
echo "second small member" >"$WORK/in/b2.txt"
step "made the sparse member"

# Compressed: the member is larger than 4 GiB, the archive small; zstd in a .vnr, deflate in a
# self-extracting archive. The listing names each one's method.
"$RUN" "$BUILD/vantor.exe" a -m1 -t0 "$(win "$WORK/big.vnr")" \
  "$(win "$BIG")" "$(win "$WORK/in/b1.txt")" "$(win "$WORK/in/b2.txt")" || fail "compressing into big.vnr"
listing=$("$RUN" "$BUILD/vantor.exe" l "$(win "$WORK/big.vnr")") || fail "listing big.vnr"
grep -Eq "^ *$SIZE +[0-9]+ zstd .*a_big\.bin"$'\r'"?\$" <<<"$listing" || fail "big.vnr does not list $SIZE bytes of zstd:"$'\n'"$listing"
step "compressed into big.vnr with zstd ($(stat -c %s "$WORK/big.vnr") bytes)"
"$RUN" "$BUILD/vantor.exe" a -e -m1 -t0 "$(win "$WORK/deflated.vnr")" \
  "$(win "$BIG")" "$(win "$WORK/in/b1.txt")" "$(win "$WORK/in/b2.txt")" || fail "deflating into deflated.exe"
listing=$("$RUN" "$BUILD/vantor.exe" l "$(win "$WORK/deflated.exe")") || fail "listing deflated.exe"
grep -Eq "^ *$SIZE +[0-9]+ deflate .*a_big\.bin"$'\r'"?\$" <<<"$listing" ||
  fail "deflated.exe does not list $SIZE bytes of deflate:"$'\n'"$listing"
step "deflated into deflated.exe ($(stat -c %s "$WORK/deflated.exe") bytes)"

# Stored into a self-extracting archive: the entries after the member lie past 4 GiB.
"$RUN" "$BUILD/vantor.exe" a -e -m0 -t0 "$(win "$WORK/stored.exe")" \
  "$(win "$BIG")" "$(win "$WORK/in/b1.txt")" "$(win "$WORK/in/b2.txt")" || fail "storing into stored.exe"
[ "$(stat -c %s "$WORK/stored.exe")" -gt $SIZE ] || fail "stored.exe is smaller than its member"
step "stored into stored.exe ($(stat -c %s "$WORK/stored.exe") bytes)"

# The front end on all three: the walk, the size text, and the marks (b1.txt in stored.exe, the
# large member in big.vnr and deflated.exe).
VANTOR_LARGE_SIZE=$SIZE VANTOR_LARGE_SFX=$(win "$WORK/stored.exe") VANTOR_LARGE_VNR=$(win "$WORK/big.vnr") \
  VANTOR_LARGE_DEFLATED=$(win "$WORK/deflated.exe") \
  "$RUN" "$BUILD/tests/win_tests.exe" --gtest_filter='LargeArchive.*' || fail "the front end's checks"
step "front end walked, listed and marked the three archives"

"$RUN" "$BUILD/vantor.exe" x -e "$(win "$WORK/stored.exe")" "$(win "$WORK/out-sfx")" || fail "extracting from stored.exe"
[ "$(cd "$WORK/out-sfx" && find . -type f)" = ./b1.txt ] || fail "stored.exe gave $(cd "$WORK/out-sfx" && find . -type f)"
cmp "$WORK/in/b1.txt" "$WORK/out-sfx/b1.txt" || fail "b1.txt from past 4 GiB differs"
rm -f "$WORK/stored.exe"
step "extracted the marked member from past 4 GiB"

"$RUN" "$BUILD/vantor.exe" x -e "$(win "$WORK/big.vnr")" "$(win "$WORK/out-vnr")" || fail "extracting from big.vnr"
[ "$(cd "$WORK/out-vnr" && find . -type f)" = ./a_big.bin ] || fail "big.vnr gave $(cd "$WORK/out-vnr" && find . -type f)"
[ "$(stat -c %s "$WORK/out-vnr/a_big.bin")" = $SIZE ] || fail "the large member came back with $(stat -c %s "$WORK/out-vnr/a_big.bin") bytes"
same_bytes "$BIG" "$WORK/out-vnr/a_big.bin" || fail "the large member came back with other bytes"
rm -rf "$WORK/out-vnr" "$WORK/big.vnr"
step "extracted the large zstd member, byte-exact"

"$RUN" "$BUILD/vantor.exe" x -e "$(win "$WORK/deflated.exe")" "$(win "$WORK/out-deflated")" || fail "extracting from deflated.exe"
[ "$(cd "$WORK/out-deflated" && find . -type f)" = ./a_big.bin ] || fail "deflated.exe gave $(cd "$WORK/out-deflated" && find . -type f)"
[ "$(stat -c %s "$WORK/out-deflated/a_big.bin")" = $SIZE ] || fail "the deflated member came back with $(stat -c %s "$WORK/out-deflated/a_big.bin") bytes"
same_bytes "$BIG" "$WORK/out-deflated/a_big.bin" || fail "the deflated member came back with other bytes"
step "extracted the large deflated member, byte-exact"
echo "large: all checks passed"
