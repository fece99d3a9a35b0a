#!/usr/bin/env bash
# A zip written by a Windows build's archiver under Wine (a folder, an empty folder, an empty file,
# a UTF-8 name, bytes that stay stored), added to once, then read back by Python's zipfile: every
# member's bytes, the UTF-8 flag and the folder bit; the archiver's own test reads it too.
# Usage: tests/zip/wine_zip.sh <build dir>
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$(cd "$1" && pwd)
RUN=$ROOT/scripts/wine-run.sh
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
win() { local p=${1//\//\\}; echo "Z:$p"; }
mkdir -p "$WORK/src/sub" "$WORK/src/hollow"
seq 1 5000 > "$WORK/src/text.txt"
head -c 100000 /dev/urandom > "$WORK/src/noise.bin"
: > "$WORK/src/empty.txt"
echo snow > "$WORK/src/sub/naïve ☃.txt"
"$RUN" "$BUILD/vantor.exe" a -r "$(win "$WORK/out.zip")" "$(win "$WORK/src")"
echo more > "$WORK/more.txt"
"$RUN" "$BUILD/vantor.exe" a "$(win "$WORK/out.zip")" "$(win "$WORK/more.txt")"
cp "$WORK/more.txt" "$WORK/src/more.txt"
"$RUN" "$BUILD/vantor.exe" t "$(win "$WORK/out.zip")"
python3 - "$WORK/out.zip" "$WORK/src" <<'PY'
import os, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
assert z.testzip() is None
names = sorted(i.filename for i in z.infolist())
assert names == ['empty.txt', 'hollow/', 'more.txt', 'noise.bin', 'sub/', 'sub/naïve ☃.txt', 'text.txt'], names
for i in z.infolist():
    if i.is_dir():
        assert i.external_attr & 0x10, i.filename
        continue
    assert z.read(i) == open(os.path.join(sys.argv[2], i.filename), 'rb').read(), i.filename
    assert bool(i.flag_bits & 0x800) == (i.filename != i.filename.encode('ascii', 'ignore').decode()), i.filename
assert z.getinfo('noise.bin').compress_type == zipfile.ZIP_STORED
assert z.getinfo('text.txt').compress_type == zipfile.ZIP_DEFLATED
print('wine zip: read back by Python, all members equal')
PY
