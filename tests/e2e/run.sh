#!/usr/bin/env bash
# End-to-end: the real WinVantor.exe (with vantor.exe and data\ beside it) under Wine's virtual
# desktop on a private Xvfb display, driven as a user would: mouse and keys through the X server
# (xdotool), menu commands and field text as window messages from a second Windows program
# (vantor_e2e_driver.exe). Every step is checked on disk or on screen and leaves a screenshot in
# build/e2e-artifacts/. Ends with "N passed, M failed"; exits non-zero on any failure.
#
# VANTOR_E2E_BUILD and VANTOR_E2E_NATIVE choose other build folders (default build/win64, build/native).
# An i686 build (build/win32) runs under 32-bit Wine through qemu-user, in a prefix of its own and
# with every wait VANTOR_E2E_SLOW (default 4) times longer.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$(cd "$ROOT/${VANTOR_E2E_BUILD:-build/win64}" 2>/dev/null && pwd) || BUILD=$ROOT/${VANTOR_E2E_BUILD:-build/win64}
NATIVE_TOOL=$ROOT/${VANTOR_E2E_NATIVE:-build/native}/vantor
DRIVER=$BUILD/tests/e2e/vantor_e2e_driver.exe
if [ "$(od -An -tx2 -j$(($(od -An -tu4 -j60 -N4 "$BUILD/WinVantor.exe" 2>/dev/null || echo 0) + 4)) -N2 \
        "$BUILD/WinVantor.exe" 2>/dev/null | tr -d ' ')" = 014c ]; then
  BITS=32 WINE=/usr/lib/wine/wine SLOW=${VANTOR_E2E_SLOW:-4}
else
  BITS=64 WINE=/usr/lib/wine/wine64 SLOW=1
fi
ARTIFACTS=$ROOT/build/e2e-artifacts${BITS/64/}
MAIN="Vantor Archiver"
COMPRESSION="Vantor - compression Mode"
EXTRACTION="Vantor - extraction Mode"
FIND="Vantor - Find"

passed=0
failed=0
# One end-to-end run at a time: runs share the prefix and the artefacts folder.
mkdir -p "$ARTIFACTS"
exec 9>"$ROOT/build/e2e.lock"
if ! flock -w 240 9; then
  echo "FAIL - another end-to-end run held the lock for 4 minutes"
  echo "0 passed, 1 failed"
  exit 1
fi
rm -f "$ARTIFACTS"/*.png "$ARTIFACTS"/*.log
LOG=$ARTIFACTS/e2e.log
: >"$LOG"

say() { echo "$*" | tee -a "$LOG"; }
pass() { passed=$((passed + 1)); say "ok   - $1"; }
fail() { failed=$((failed + 1)); say "FAIL - $1${2:+: $2}"; }

finish() {
  say "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
}

for tool in xdotool import Xvfb "$WINE"; do
  command -v "$tool" >/dev/null || fail "missing $tool (run scripts/setup.sh)"
done
for needed in "$BUILD/WinVantor.exe" "$BUILD/vantor.exe" "$BUILD/data/Add.png" "$DRIVER" "$NATIVE_TOOL"; do
  [ -e "$needed" ] || fail "missing $needed (build win64 and native first)"
done
[ "$failed" -eq 0 ] || finish

export WINEPREFIX=$ROOT/build/e2e-wineprefix${BITS/64/}
export VANTOR_WINE_BITS=$BITS
export VANTOR_ROOT=$ROOT
unset DISPLAY
source "$ROOT/scripts/wine-env.sh"
trap wine_env_stop EXIT
wine_env_start || { fail "Wine and Xvfb did not start"; finish; }
# A text member is opened by the viewer the shell associates with .txt.
"$WINE" reg add 'HKCR\.txt' /ve /d txtfile /f >/dev/null 2>&1 </dev/null

DRIVE_C=$WINEPREFIX/drive_c
WORK=$DRIVE_C/e2e
TEMP_WIN=$(timeout $((30 * SLOW)) "$WINE" "$DRIVER" temp 2>/dev/null)
TEMP_UNIX=$DRIVE_C/${TEMP_WIN#C:\\}
TEMP_UNIX=${TEMP_UNIX//\\//}
TEMP_UNIX=${TEMP_UNIX%/}
[ -d "$TEMP_UNIX" ] || { fail "temporary folder $TEMP_WIN not found as $TEMP_UNIX"; finish; }

# --- helpers -------------------------------------------------------------------------------------

drv() { timeout $((30 * SLOW)) "$WINE" "$DRIVER" "$@" 2>>"$LOG"; }

shot_number=0
shot() {
  shot_number=$((shot_number + 1))
  timeout 20 import -window root "$ARTIFACTS/$(printf %02d "$shot_number")-$1.png" 2>>"$LOG" || true
}

# Real input through the X server; the virtual desktop sits at the X screen's origin.
# The pointer settles before the button goes down, so the press lands on the window under it.
click_at() { xdotool mousemove --sync "$1" "$2" sleep 0.1 click 1; }
double_click_at() { xdotool mousemove --sync "$1" "$2" sleep 0.1 click --repeat 2 --delay 60 1; }
click_control() {
  local p
  p=$(drv center "$1" "$2") || return 1
  click_at $p
}
click_row() {
  local p
  p=$(drv row-center "$MAIN" 1 "$1") || return 1
  click_at $p
}
double_click_row() {
  local p
  p=$(drv row-center "$MAIN" 1 "$1") || return 1
  double_click_at $p
}
ctrl_click_row() {
  local p
  p=$(drv row-center "$MAIN" 1 "$1") || return 1
  xdotool keydown ctrl
  click_at $p
  xdotool keyup ctrl
}
node_center() { drv node-center "$EXTRACTION" 25 "My Computer" "~(C:)" "$@"; }

# Name and size cells of the main list, one "name|size" per line, ".." first.
rows() { drv rows "$MAIN" 1 | cut -f3,4 --output-delimiter='|'; }
selected_rows() { drv rows "$MAIN" 1 | awk -F'\t' '$2 == 1 {print $3}' | paste -sd' '; }

# Waits up to $2 seconds until the list shows exactly the rows in $1.
wait_rows() {
  local want=$1 deadline=$((SECONDS + ${2:-10} * SLOW))
  while [ "$(rows)" != "$want" ]; do
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.3
  done
}

wait_for() {  # wait_for <seconds> <command...>: until the command succeeds
  local deadline=$((SECONDS + $1 * SLOW))
  shift
  until "$@"; do
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.2
  done
}

kb() {  # the list's size cell for a file: whole KB, rounded up
  local n
  n=$(stat -c %s "$1")
  echo "$(((n + 1023) / 1024)) KB"
}

# check <description> <command...>: one counted check.
check() {
  local what=$1
  shift
  if "$@" >>"$LOG" 2>&1; then
    pass "$what"
  else
    fail "$what"
    return 1
  fi
}

# check_eq <description> <expected> <actual>
check_eq() {
  if [ "$2" == "$3" ]; then
    pass "$1"
  else
    fail "$1" "expected [$2], got [$3]"
    return 1
  fi
}

check_match() {  # check_match <description> <extended regex> <actual>
  if [[ $3 =~ $2 ]]; then
    pass "$1"
  else
    fail "$1" "[$3] does not match /$2/"
    return 1
  fi
}

program_pid=
# start_program <windows working folder as unix path> [argument]
start_program() {
  (cd "$1" && exec "$WINE" "$BUILD/WinVantor.exe" ${2:+"$2"} >>"$LOG" 2>&1 </dev/null) &
  program_pid=$!
  # A loaded machine has been seen to take over 20 s to start Wine's process and show its window.
  timeout $((90 * SLOW)) "$WINE" "$DRIVER" wait "$MAIN" $((60000 * SLOW)) >/dev/null 2>>"$LOG"
}

# Waits up to 20 s for the program to end and sets exit_code (not in a subshell: wait needs the
# shell that started the program).
exit_code=
await_exit() {
  local deadline=$((SECONDS + 20 * SLOW))
  exit_code="still running"
  while kill -0 "$program_pid" 2>/dev/null; do
    [ $SECONDS -ge $deadline ] && return
    sleep 0.2
  done
  wait "$program_pid"
  exit_code=$?
  program_pid=
}

# Runs the named steps in order; after a failed step the rest of the session is skipped.
session() {
  local step i j
  local steps=("$@")
  for ((i = 0; i < ${#steps[@]}; i++)); do
    step=${steps[$i]}
    say "# $step"
    if ! "$step"; then
      shot "$step-failed"
      for ((j = i + 1; j < ${#steps[@]}; j++)); do fail "${steps[$j]} skipped after the failure above"; done
      return 1
    fi
  done
}

stop_program() {
  [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null || return 0
  drv menu "$MAIN" 8 >/dev/null
  drv menu "$MAIN" 8 >/dev/null
  local deadline=$((SECONDS + 10 * SLOW))
  while kill -0 "$program_pid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do sleep 0.2; done
  kill "$program_pid" 2>/dev/null
  wait "$program_pid" 2>/dev/null
  program_pid=
}

# --- the prepared folders ------------------------------------------------------------------------

rm -rf "$WORK" "$TEMP_UNIX/tempvantor" "$TEMP_UNIX/launchvantor" "$BUILD/master.lis"
mkdir -p "$WORK/src/docs/sub" "$WORK/dest" "$WORK/broken" "$WORK/damaged"
printf 'guide line\r\n' >"$WORK/src/docs/guide.txt"
head -c 70000 /dev/urandom >"$WORK/src/docs/sub/deep.bin"
for i in $(seq 1 300); do printf 'note %03d\r\n' "$i"; done >"$WORK/src/notes.txt"
# A name in three scripts with an emoji (a UTF-16 surrogate pair) travels the whole way.
PHOTO=$'\xcf\x86\xcf\x89\xcf\x84\xce\xbf-\xe6\x97\xa5\xe6\x9c\xac-\xf0\x9f\x98\x80.bin'
head -c 3000 /dev/urandom >"$WORK/src/$PHOTO"
printf 'not chosen\r\n' >"$WORK/src/extra.txt"
SRC_BEFORE=$(cd "$WORK/src" && find . | sort)
PROGRAM_FOLDER_BEFORE=$(ls "$BUILD")
ARCHIVE="C:\\e2e\\src\\backup.vnr"
ARCHIVE_UNIX=$WORK/src/backup.vnr

# --- the scenario --------------------------------------------------------------------------------

step1_add() {
  check "the list starts at the drive level" drv wait-row "$MAIN" 1 "~(C:)" 10000 || return 1
  shot drive-level
  double_click_row "~(C:)" && check "double-click on C: enters the drive" drv wait-row "$MAIN" 1 e2e 10000 || return 1
  double_click_row e2e && check "double-click on e2e enters it" drv wait-row "$MAIN" 1 src 10000 || return 1
  double_click_row src || return 1
  check "the prepared folder is listed" wait_rows "..|
docs|
extra.txt|$(kb "$WORK/src/extra.txt")
notes.txt|$(kb "$WORK/src/notes.txt")
$PHOTO|$(kb "$WORK/src/$PHOTO")" || return 1
  click_row docs && ctrl_click_row notes.txt && ctrl_click_row "$PHOTO" || return 1
  check_eq "a folder and two files are selected" "docs notes.txt $PHOTO" "$(selected_rows)" || return 1
  shot selection
  click_control "$MAIN" 2 && check "Add opens the compression window" drv wait "$COMPRESSION" 10000 || return 1
  check_eq "the main window is disabled meanwhile" 0 "$(drv enabled "$MAIN")"
  drv set-text "$COMPRESSION" 10 "$ARCHIVE" || return 1
  click_control "$COMPRESSION" 14 || return 1
  check_eq "Solid archive is ticked" 1 "$(drv checked "$COMPRESSION" 14)" || return 1
  click_control "$COMPRESSION" 8 && xdotool key Home Right Right || return 1
  check_eq "the method slider stands at 2" 2 "$(drv position "$COMPRESSION" 8)" || return 1
  check_eq "the method label follows the slider" "method 2" "$(drv text "$COMPRESSION" 7)" || return 1
  check_eq "the archive name field holds the typed name" "$ARCHIVE" "$(drv text "$COMPRESSION" 10)" || return 1
  shot compression-window
  click_control "$COMPRESSION" 12 && check '"Added" appears' drv wait "#box:Added" 30000 || return 1
  check_match '"Added" names the archive and the seconds' '^archive=C:\\e2e\\src\\backup\.vnr in [0-9]+ sec\.$' \
    "$(drv box "#box:Added")"
  shot added
  drv ok "#box:Added"
  check "the box and the compression window close" drv gone "$COMPRESSION" 10000 || return 1
  check "the archive exists" test -s "$ARCHIVE_UNIX" || return 1
  local listing
  listing=$("$NATIVE_TOOL" l "$ARCHIVE_UNIX" 2>&1)
  echo "$listing" >>"$LOG"
  check_eq "vantor l lists the chosen folder's files and the two files, nothing else" \
    "docs/guide.txt docs/sub/deep.bin notes.txt $PHOTO" "$(echo "$listing" | awk '{print $NF}' | sort | paste -sd' ')"
  check_match "the archive was written solid" ' -s ' "$listing"
  check "the list file was removed from the program folder" test ! -e "$BUILD/master.lis"
  check "the main window is enabled again" wait_for 5 eval '[ "$(drv enabled "$MAIN")" == 1 ]'
  return 0
}

archive_root_rows() {
  echo "..|
docs|
notes.txt|$(kb "$WORK/src/notes.txt")
$PHOTO|$(kb "$WORK/src/$PHOTO")"
}

step2_browse_archive() {
  check "the new archive appears in the list" drv wait-row "$MAIN" 1 backup.vnr 10000 || return 1
  double_click_row backup.vnr || return 1
  check "double-click opens the archive: its root with the KB sizes" wait_rows "$(archive_root_rows)" || return 1
  check "the mirror tree stands in the temporary folder" test -f "$TEMP_UNIX/tempvantor/docs/sub/deep.bin"
  shot archive-root
  double_click_row docs || return 1
  check "a folder of the archive is entered" wait_rows "..|
sub|
guide.txt|$(kb "$WORK/src/docs/guide.txt")" || return 1
  shot archive-folder
  double_click_row .. || return 1
  check "the parent entry leads back to the archive root" wait_rows "$(archive_root_rows)" || return 1
}

step3_extract() {
  click_row docs && ctrl_click_row notes.txt && ctrl_click_row "$PHOTO" || return 1
  check_eq "a folder and two files of the archive are selected" "docs notes.txt $PHOTO" "$(selected_rows)" || return 1
  click_control "$MAIN" 3 && check "Extract opens the extraction window" drv wait "$EXTRACTION" 10000 || return 1
  local p
  p=$(node_center e2e) && double_click_at $p || { fail "the folder tree shows C:\\e2e"; return 1; }
  check "double-click opens e2e in the tree" node_center e2e dest || return 1
  p=$(node_center e2e dest) && click_at $p || return 1
  check_eq "the picked folder becomes the destination" "C:\\e2e\\dest\\" "$(drv text "$EXTRACTION" 10)" || return 1
  shot extraction-window
  click_control "$EXTRACTION" 12 && check '"Notice" appears' drv wait "#box:Notice" 30000 || return 1
  check_match '"Notice" names the archive and the seconds' '^Archive =C:\\e2e\\src\\backup\.vnr in [0-9]+ sec\.$' \
    "$(drv box "#box:Notice")"
  shot notice
  drv ok "#box:Notice"
  check "the box and the extraction window close" drv gone "$EXTRACTION" 10000 || return 1
  check_eq "exactly the chosen members were written" "./docs/guide.txt ./docs/sub/deep.bin ./notes.txt ./$PHOTO" \
    "$(cd "$WORK/dest" && find . -type f | sort | paste -sd' ')"
  check "the extracted files are byte-identical to the originals" \
    eval 'cmp "$WORK/src/notes.txt" "$WORK/dest/notes.txt" && cmp "$WORK/src/$PHOTO" "$WORK/dest/$PHOTO" &&
      diff -r "$WORK/src/docs" "$WORK/dest/docs"'
  check_eq "nothing was written beside the originals" "$(printf '%s\n' "$SRC_BEFORE" ./backup.vnr | sort)" \
    "$(cd "$WORK/src" && find . | sort)"
  check_eq "nothing was written into the program folder" "$PROGRAM_FOLDER_BEFORE" "$(ls "$BUILD")"
  check "the archive view stays on show" wait_rows "$(archive_root_rows)" 5
  return 0
}

step4_launch() {
  double_click_row notes.txt || return 1
  check "the text member is handed to the shell, which opens it" drv find Notepad notes.txt 20000 || return 1
  check "the member was extracted to the launch folder" cmp "$WORK/src/notes.txt" "$TEMP_UNIX/launchvantor/notes.txt"
  check_eq "only that member was extracted there" "./notes.txt" \
    "$(cd "$TEMP_UNIX/launchvantor" && find . -type f | sort | paste -sd' ')"
  shot launched
  drv close Notepad "notes.txt - Notepad"
  check "the viewer closes" drv gone "notes.txt - Notepad" 10000
  check "the main window is active again" drv foreground "$MAIN" 10000
  return 0
}

step5_leave_and_exit() {
  check "the list is at the mirror root" wait_rows "$(archive_root_rows)" 5 || return 1
  click_control "$MAIN" 31 || return 1
  # The temporary folder's parent, two levels above the mirror root, listed below its "..".
  local want got deadline=$((SECONDS + 10 * SLOW))
  want=$(echo ..; cd "$(dirname "$TEMP_UNIX")" && ls -1 | sort)
  while :; do
    got=$(rows | cut -d'|' -f1 | { read -r parent; echo "$parent"; sort; })
    [ "$got" == "$want" ] || [ $SECONDS -ge $deadline ] && break
    sleep 0.3
  done
  check_eq "the parent button leaves the archive two levels above the mirror root" \
    "$(echo "$want" | paste -sd'/')" "$(echo "$got" | paste -sd'/')" || return 1
  shot left-archive
  drv menu "$MAIN" 8
  await_exit
  check_eq '"Exit" ends the program with exit code 0' 0 "$exit_code" || return 1
  check "the main window is gone" drv gone "$MAIN" 5000
  return 0
}

damage_archive() {  # flips two bytes in the middle of the first member's data
  local archive=$1 name_length folder_length entry_length header at byte
  entry_length=$(od -An -tu8 -j0 -N8 "$archive" | tr -d ' ')
  name_length=$(od -An -tu2 -j10 -N2 "$archive" | tr -d ' ')
  folder_length=$(od -An -tu2 -j$((12 + name_length)) -N2 "$archive" | tr -d ' ')
  header=$((23 + name_length + folder_length))
  at=$(((header + entry_length) / 2))
  for offset in $at $((at + 1)); do
    byte=$(od -An -tu1 -j"$offset" -N1 "$archive" | tr -d ' ')
    printf "\\x$(printf %02x $((byte ^ 0x55)))" | dd of="$archive" bs=1 seek="$offset" conv=notrunc 2>/dev/null
  done
}

damaged_prepare() {
  local i
  for i in $(seq 1 6000); do echo "line $i of a long report"; done >"$WORK/damaged/report.txt"
  (cd "$WORK/damaged" && "$NATIVE_TOOL" a -m2 broken.vnr report.txt) >>"$LOG" 2>&1
  rm -f "$WORK/damaged/report.txt"
  check "the archive to damage is sound at first" "$NATIVE_TOOL" t "$WORK/damaged/broken.vnr" || return 1
  damage_archive "$WORK/damaged/broken.vnr"
  check "flipped bytes make its member fail the test" eval '! "$NATIVE_TOOL" t "$WORK/damaged/broken.vnr"'
  return 0
}

damaged_extract() {
  # Opened as a document named on the command line, as a double-click in the shell would.
  start_program "$WORK/damaged" 'C:\e2e\damaged\broken.vnr'
  check "the damaged archive opens with its member listed" drv wait-row "$MAIN" 1 report.txt 20000 || return 1
  click_row report.txt || return 1
  click_control "$MAIN" 3 && check "Extract opens the extraction window" drv wait "$EXTRACTION" 10000 || return 1
  local p
  p=$(node_center e2e) && double_click_at $p || return 1
  p=$(node_center e2e broken) && click_at $p || { fail "the tree shows C:\\e2e\\broken"; return 1; }
  check_eq "the picked folder becomes the destination" "C:\\e2e\\broken\\" "$(drv text "$EXTRACTION" 10)" || return 1
  click_control "$EXTRACTION" 12 && check 'a "Note:" warning appears' drv wait "#box:Note:" 30000 || return 1
  check_match "the warning says the members were not extracted" 'were not extracted' "$(drv box "#box:Note:")"
  shot damaged-warning
  drv ok "#box:Note:"
  check "the box and the extraction window close" drv gone "$EXTRACTION" 10000 || return 1
  check_eq "no partial file is left in the destination" "" "$(cd "$WORK/broken" && find . -mindepth 1)"
  drv menu "$MAIN" 8  # leaves the archive
  drv menu "$MAIN" 8  # ends the program
  await_exit
  check_eq "the program ends with exit code 0" 0 "$exit_code" || return 1
}

# --- Find: a pattern over 10,000 files on disk and over an open archive ---------------------------

FIND_TREE=$WORK/findtree
NEEDLE=$'needle-\xcf\x86\xcf\x89\xcf\x84\xce\xbf.txt'  # needle-φωτο.txt
ARGER=$'\xc3\xa4rger.txt'                             # ärger.txt

find_prepare() {
  python3 -c 'import os, sys
root = sys.argv[1]
for d in range(100): os.makedirs(os.path.join(root, "d%02d" % d))
for i in range(10000): open(os.path.join(root, "d%02d" % (i % 100), "item%05d.dat" % i), "wb").close()' "$FIND_TREE" || return 1
  mkdir -p "$FIND_TREE/d37/sub" "$WORK/findsrc/docs/deep" && printf 'found\r\n' >"$FIND_TREE/d37/sub/$NEEDLE" || return 1
  head -c 5000 /dev/urandom >"$WORK/findsrc/docs/$ARGER" && touch -d 2001-02-03T12:00 "$WORK/findsrc/docs/$ARGER"
  printf 'report\r\n' >"$WORK/findsrc/docs/deep/report.txt"
  printf 'notes\r\n' >"$WORK/findsrc/notes.txt"
  (cd "$WORK/findsrc" && "$NATIVE_TOOL" a -r ../find.vnr docs notes.txt) >>"$LOG" 2>&1
  check "10,000 files and an archive to search are ready" test -s "$WORK/find.vnr"
}

find_status() { drv text "$FIND" 51; }
find_done() { [[ $(find_status) == Done:* ]]; }
find_rows() { drv rows "$FIND" 50 | cut -f3,4 --output-delimiter='|'; }
# find_for <pattern>: Find opens from the main window, searches and ends.
find_for() {
  click_control "$MAIN" 23 && check "Find opens the Find window" drv wait "$FIND" 10000 || return 1
  check_eq "the main window is disabled meanwhile" 0 "$(drv enabled "$MAIN")"
  drv set-text "$FIND" 48 "$1" && click_control "$FIND" 49 || return 1
  check "the search ends" wait_for 60 find_done
}
# Double-clicks a result, then the Find window closes and the main list shows its folder.
open_result() {
  local p
  p=$(drv row-center "$FIND" 50 "$1") && double_click_at $p || return 1
  check "a double-click on a result closes the Find window" drv gone "$FIND" 10000
}

find_disk() {
  start_program "$DRIVE_C"
  local step
  for step in "~(C:)|e2e" "e2e|findtree" "findtree|d00"; do
    double_click_row "${step%%|*}" && drv wait-row "$MAIN" 1 "${step#*|}" 10000 >/dev/null || return 1
  done
  find_for "ITEM0*7.dat" || return 1
  check_eq "the status line counts the folders looked at and the names found" \
    "Done: 102 folders looked at, 1000 found" "$(find_status)"
  check_eq "every name ending in 7 is listed once, with its folder" \
    "$(for i in $(seq 7 10 9999); do printf 'd%02d\\item%05d.dat\n' $((i % 100)) "$i"; done | sort)" \
    "$(drv rows "$FIND" 50 | cut -f3 | sort)"
  shot find-results
  check_eq "the Find window names the folder it searches" 'C:\e2e\findtree\' "$(drv text "$FIND" 53)"
  drv set-text "$FIND" 48 "NEEDLE-*" && click_control "$FIND" 48 && xdotool key Return || return 1
  check "Enter in the name field starts a second search, which ends" \
    wait_for 60 eval 'find_done && [[ $(find_status) == *", 1 found" ]]' || return 1
  check_eq "the one name in another script is found, its size in KB" "d37\\sub\\$NEEDLE|1 KB" "$(find_rows)"
  open_result "d37\\sub\\$NEEDLE" || return 1
  check "the main list shows the result's folder" wait_rows "..|
$NEEDLE|1 KB" || return 1
  check_eq "the result is selected there" "$NEEDLE" "$(selected_rows)"
  check_eq "the main window is enabled again" 1 "$(drv enabled "$MAIN")"
  shot find-disk-opened
}

find_archive() {
  local folder
  for folder in sub d37 findtree; do  # up to C:\e2e, where the archive is
    double_click_row .. && drv wait-row "$MAIN" 1 "$folder" 10000 >/dev/null || return 1
  done
  double_click_row find.vnr && check "the archive opens" drv wait-row "$MAIN" 1 docs 10000 || return 1
  find_for $'\xc3\x84RGER.*' || return 1
  check_eq "inside the archive, the folder is named by the archive" 'C:\e2e\find.vnr\' "$(drv text "$FIND" 53)"
  check_eq "the member is found by its name in other letter case, with its own size" \
    "docs\\$ARGER|$(kb "$WORK/findsrc/docs/$ARGER")" "$(find_rows)"
  check_match "the member's own date is shown, not the time of opening" '2001' "$(drv rows "$FIND" 50 | cut -f5)"
  shot find-archive-results
  open_result "docs\\$ARGER" || return 1
  check "the main list shows the member's folder inside the archive" wait_rows "..|
deep|
$ARGER|$(kb "$WORK/findsrc/docs/$ARGER")" || return 1
  check_eq "the member is selected there" "$ARGER" "$(selected_rows)"
  shot find-archive-opened
  drv menu "$MAIN" 8  # leaves the archive
}

# --- live runs: progress, an answering window, Cancel, no orphan -----------------------------------

LIVE=$WORK/live
# Samples a progress bar until it has risen three times (at most 40 samples, a pause between).
bar_rises_three_times() {
  local window=$1 pause=$2 last=-1 now rises=0 i
  for i in $(seq 1 40); do
    now=$(drv bar "$window" 42) || return 1
    [ "$now" -gt "$last" ] && [ "$last" -ge 0 ] && rises=$((rises + 1))
    last=$now
    [ $rises -ge 3 ] && return 0
    sleep "$pause"
  done
  echo "the bar rose $rises times, last at $last" >&2
  return 1
}
answers_within_a_second() {
  local ms
  ms=$(drv answers "$1") || return 1
  echo "answered in $ms ms" >&2
  [ "$ms" -lt 1000 ]
}
# Asked of Wine itself: only this prefix's processes count, whatever ps shows of them.
vantor_running() { drv process vantor.exe >/dev/null; }
live_files() { (cd "$LIVE" && find . -maxdepth 1 -type f | sort | paste -sd' '); }

live_prepare() {
  mkdir -p "$LIVE/src/big" "$LIVE/out"
  # About 1 GB that compresses to three quarters, at the speed of real data.
  python3 -c 'import base64, os, sys
with open(sys.argv[1], "wb") as f:
    for _ in range(16): f.write(base64.b64encode(os.urandom(48 << 20)))' "$LIVE/src/big/data.txt"
  printf 'kept\r\n' >"$LIVE/small.txt"
  # The extraction writes 2 GB: the data twice, under two names.
  mkdir -p "$LIVE/twice" && ln "$LIVE/src/big/data.txt" "$LIVE/twice/data.txt" &&
    ln "$LIVE/src/big/data.txt" "$LIVE/twice/again.txt" || return 1
  (cd "$LIVE" && "$NATIVE_TOOL" a kept.vnr small.txt && "$NATIVE_TOOL" a -m1 -t2 big.vnr twice/data.txt twice/again.txt) \
    >>"$LOG" 2>&1
  rm -rf "$LIVE/small.txt" "$LIVE/twice"
  cp "$LIVE/kept.vnr" "$LIVE/kept.before"
  check "1 GB of source and the archives are ready" test -s "$LIVE/big.vnr" || return 1
}

# A new program, its list walked down to the folder that holds the 1 GB folder.
start_in_live_src() {
  stop_program
  start_program "$DRIVE_C"
  check "the main window opens" drv wait "$MAIN" 20000 || return 1
  local step
  for step in "~(C:)|e2e" "e2e|live" "live|src" "src|big"; do
    double_click_row "${step%%|*}" && drv wait-row "$MAIN" 1 "${step#*|}" 10000 >/dev/null || return 1
  done
  check "the 1 GB folder is listed" drv wait-row "$MAIN" 1 big 10000
}

# Starts compressing the 1 GB folder into C:\e2e\live\<name> in a new program; the caller's
# files_before gets the folder's files as they were before.
start_compressing_big() {
  start_in_live_src || return 1
  click_row big && click_control "$MAIN" 2 && drv wait "$COMPRESSION" 10000 >/dev/null || return 1
  drv set-text "$COMPRESSION" 10 "C:\\e2e\\live\\$1" || return 1
  files_before=$(live_files)
  click_control "$COMPRESSION" 12
}

live_compress_cancel() {
  local files_before
  start_compressing_big kept.vnr || return 1
  check "the progress bar rises at least three times during the run" bar_rises_three_times "$COMPRESSION" 0.5
  check "the compression window answers a message within a second" answers_within_a_second "$COMPRESSION"
  check_match "the status line says how long and how far the run has got, in KB" \
    '^[0-9:]+ elapsed, .*[0-9]+ KB of [0-9]+ KB \([0-9]+ %\)' "$(drv text "$COMPRESSION" 43)"
  check_eq "the exit button reads Cancel during the run" Cancel "$(drv text "$COMPRESSION" 13)"
  shot compression-running
  check "the archiver is still at work" vantor_running || return 1
  click_control "$COMPRESSION" 13 && check 'Cancel cancels: a "Note:" appears' drv wait "#box:Note:" 10000 || return 1
  check_match "the note says the run was cancelled and after how long" \
    '^Compression was cancelled after [0-9]+ sec\.: C:\\e2e\\live\\kept\.vnr was not written' "$(drv box "#box:Note:")"
  check "the archiver has ended" wait_for 2 eval '! vantor_running'
  check "the archive being added to is byte for byte as before" cmp "$LIVE/kept.before" "$LIVE/kept.vnr"
  check_eq "no new archive and no temporary file beside it" "$files_before" "$(live_files)"
  shot compression-cancelled
  drv ok "#box:Note:"
  check "the compression window closes" drv gone "$COMPRESSION" 10000
}

# After a cancelled extraction: again.txt is a copy of data.txt in the archive, so both are written
# from one stream and end together. A cancel within it leaves neither; one that came after its end
# leaves both, whole. One alone, a partial file or any other file is a fault, named with its size.
whole_members_left() {
  local left f
  left=$(cd "$LIVE/out" && find . -mindepth 1 | sort | paste -sd' ')
  for f in $left; do echo "left: $f ($(stat -c %s "$LIVE/out/$f") bytes)"; done
  [ -z "$left" ] && return 0
  [ "$left" = "./again.txt ./data.txt" ] || return 1
  cmp "$LIVE/out/data.txt" "$LIVE/src/big/data.txt" && cmp "$LIVE/out/again.txt" "$LIVE/src/big/data.txt"
}

live_extract_cancel() {
  double_click_row .. && drv wait-row "$MAIN" 1 big.vnr 10000 >/dev/null || return 1
  double_click_row big.vnr && check "the 2 GB archive opens" drv wait-row "$MAIN" 1 data.txt 10000 || return 1
  click_row again.txt && ctrl_click_row data.txt && click_control "$MAIN" 3 && drv wait "$EXTRACTION" 10000 >/dev/null ||
    return 1
  drv set-text "$EXTRACTION" 10 'C:\e2e\live\out\' || return 1
  click_control "$EXTRACTION" 12 || return 1
  # Extraction is fast: the bar is sampled without a pause, and Cancel follows at once.
  check "the extraction bar rises at least three times" bar_rises_three_times "$EXTRACTION" 0
  shot extraction-running
  click_control "$EXTRACTION" 13 && check 'Cancel cancels the extraction: a "Note:" appears' \
    drv wait "#box:Note:" 10000 || return 1
  check_match "the note says the extraction was cancelled" 'was cancelled after [0-9]+ sec\.' "$(drv box "#box:Note:")"
  check "the archiver has ended" wait_for 2 eval '! vantor_running'
  check "no member is left partly written, nor one without its copy" whole_members_left
  drv ok "#box:Note:"
  check "the extraction window closes" drv gone "$EXTRACTION" 10000
}

# taskkill without /F posts WM_CLOSE to the program's windows: the run's window takes it as its
# close box, and the program goes on.
live_close_from_outside() {
  local files_before
  start_compressing_big closed.vnr || return 1
  check "the run is under way" wait_for 10 eval '[ "$(drv bar "$COMPRESSION" 42)" -gt 0 ]' || return 1
  # The run's window belongs to the main window: a click there brings it forward.
  click_at 900 700 && check "a click on the desktop takes the foreground" eval '! drv foreground "$COMPRESSION" 500'
  click_at 100 400 && check "a click on the main window brings the compression window forward" \
    drv foreground "$COMPRESSION" 3000
  shot compression-brought-forward
  drv close WindowClass_1 "$COMPRESSION" || return 1
  check 'a close from outside cancels: a "Note:" appears' drv wait "#box:Note:" 10000 || return 1
  check_match "the note says the run was cancelled" '^Compression was cancelled after ' "$(drv box "#box:Note:")"
  drv ok "#box:Note:"
  check "the compression window closes" drv gone "$COMPRESSION" 10000 || return 1
  check_eq "no new archive and no temporary file" "$files_before" "$(live_files)"
  sleep $SLOW
  check "the program lives on" kill -0 "$program_pid"
  check_eq "with its main window enabled" 1 "$(drv enabled "$MAIN")"
}

live_orphan() {
  local files_before
  start_compressing_big orphan.vnr || return 1
  check "the archiver runs" wait_for 10 vantor_running || return 1
  wait_for 10 eval '[ "$(drv bar "$COMPRESSION" 42)" -gt 0 ]'
  kill -9 "$program_pid"
  wait "$program_pid" 2>/dev/null
  program_pid=
  check "ending WinVantor.exe ends vantor.exe within 2 s" wait_for 2 eval '! vantor_running' || return 1
  # The next run on that archive removes what the killed one left under a name.
  "$NATIVE_TOOL" a "$LIVE/orphan.vnr" "$LIVE/kept.before" >>"$LOG" 2>&1
  check_eq "after the next run nothing of the killed one is left" \
    "$(printf '%s\n' $files_before ./orphan.vnr | sort | paste -sd' ')" "$(live_files)"
}


# --- Verify and Delete in an open archive ---------------------------------------------------------

VD=$WORK/vd
vd_prepare() {
  rm -rf "$VD" && mkdir -p "$VD/src/docs/sub" || return 1
  seq 1 3000 >"$VD/src/first.txt"
  seq 1 2000 >"$VD/src/docs/a.txt"
  seq 1 1000 >"$VD/src/docs/sub/b.txt"
  seq 1 500 >"$VD/src/keep.txt"
  (cd "$VD/src" && "$NATIVE_TOOL" a -r -m2 ../sound.vnr first.txt docs keep.txt) >>"$LOG" 2>&1
  cp "$VD/sound.vnr" "$VD/damaged.vnr"
  damage_archive "$VD/damaged.vnr"  # the first member is first.txt
  rm -rf "$VD/src"
  check "the archive for Verify and Delete holds 4 members" \
    eval '[ "$("$NATIVE_TOOL" l "$VD/sound.vnr" | wc -l)" = 4 ]'
}

# verify_box <archive> <what the box must say> <its pattern> <screenshot>: opens the archive as a
# document, presses Verify and checks the report.
verify_box() {
  start_program "$VD" "C:\\e2e\\vd\\$1"
  check "$1 opens" drv wait-row "$MAIN" 1 keep.txt 20000 || return 1
  click_control "$MAIN" 4 && check "Verify reports in a box" drv wait "#box:Verify" 30000 || return 1
  check_match "$2" "$3" "$(drv box "#box:Verify" | tr '\n' ' ')"
  shot "$4"
  drv ok "#box:Verify"
  stop_program
}
verify_sound() { verify_box sound.vnr "it finds all 4 members intact" '^All 4 members of .*sound\.vnr are intact' verify-sound; }
verify_damaged() { verify_box damaged.vnr "the box names the damaged member" '1 damaged member:.*first\.txt' verify-damaged; }

delete_folder_and_member() {
  start_program "$VD" 'C:\e2e\vd\sound.vnr'
  check "the archive opens" drv wait-row "$MAIN" 1 keep.txt 20000 || return 1
  click_row docs && ctrl_click_row first.txt || return 1
  click_control "$MAIN" 5 && check "Delete asks first" drv wait "#box:Delete" 10000 || return 1
  check_match "the question counts members and folders" \
    'Remove 3 members and 1 folder from .*sound\.vnr .*\? This cannot be undone' "$(drv box "#box:Delete")"
  shot delete-question
  drv press "#box:Delete" 6  # Yes
  check "the view is opened anew without them" wait_for 30 eval '[ "$(rows | cut -d"|" -f1 | paste -sd" ")" = ".. keep.txt" ]' ||
    { say "$(rows)"; return 1; }
  check_eq "vantor l agrees with the view" "keep.txt" \
    "$("$NATIVE_TOOL" l "$VD/sound.vnr" | awk '{print $NF}' | paste -sd' ')"
  check "what is left is intact" "$NATIVE_TOOL" t "$VD/sound.vnr"
  shot delete-done
  stop_program
}

# --- Other programs' archives: zip and 7z opened, browsed, extracted, launched, verified, found ----

FZ=$WORK/fz
foreign_prepare() {
  local size byte at i
  rm -rf "$FZ" && mkdir -p "$FZ/src/docs/sub" "$FZ/dest" || return 1
  printf 'guide line\r\n' >"$FZ/src/docs/guide.txt"
  seq 1 4000 >"$FZ/src/docs/sub/deep.txt"
  for i in $(seq 1 300); do printf 'note %03d\r\n' "$i"; done >"$FZ/src/notes.txt"
  head -c 5000 /dev/urandom >"$FZ/src/extra.bin"
  printf 'not chosen\r\n' >"$FZ/src/other.txt"
  (cd "$FZ/src" && zip -qr ../pack.zip docs notes.txt extra.bin other.txt && 7z a -bd ../pack.7z docs notes.txt \
    extra.bin other.txt) >>"$LOG" 2>&1
  seq 1 60000 >"$FZ/big.txt"
  (cd "$FZ" && zip -q damaged.zip big.txt) >>"$LOG" 2>&1
  rm -f "$FZ/big.txt"
  size=$(stat -c %s "$FZ/damaged.zip")
  at=$((size / 2))
  byte=$(od -An -tu1 -j"$at" -N1 "$FZ/damaged.zip" | tr -d ' ')
  printf "\\x$(printf %02x $((byte ^ 0x55)))" | dd of="$FZ/damaged.zip" bs=1 seek="$at" conv=notrunc 2>/dev/null
  SEVEN_BEFORE=$(md5sum <"$FZ/pack.7z")
  check "the peer tools wrote a zip and a 7z" test -s "$FZ/pack.zip" -a -s "$FZ/pack.7z" || return 1
  check "the damaged zip fails the archiver's test" eval '! "$NATIVE_TOOL" t "$FZ/damaged.zip" >/dev/null 2>&1'
}

foreign_root_rows() {
  echo "..|
docs|
extra.bin|$(kb "$FZ/src/extra.bin")
notes.txt|$(kb "$FZ/src/notes.txt")
other.txt|$(kb "$FZ/src/other.txt")"
}

foreign_zip_open() {
  start_program "$FZ" 'C:\e2e\fz\pack.zip'
  check "a zip named on the command line opens with its members and sizes" wait_rows "$(foreign_root_rows)" 20 || return 1
  shot zip-open
  double_click_row docs || return 1
  check "a folder of the zip is entered" wait_rows "..|
sub|
guide.txt|$(kb "$FZ/src/docs/guide.txt")" || return 1
  shot zip-folder
  double_click_row .. || return 1
  check "the parent entry leads back to the zip's root" wait_rows "$(foreign_root_rows)" || return 1
}

foreign_zip_extract_two() {
  click_row extra.bin && ctrl_click_row notes.txt || return 1
  click_control "$MAIN" 3 && check "Extract opens the extraction window" drv wait "$EXTRACTION" 10000 || return 1
  drv set-text "$EXTRACTION" 10 'C:\e2e\fz\dest\' || return 1
  click_control "$EXTRACTION" 12 && check '"Notice" appears' drv wait "#box:Notice" 30000 || return 1
  check_match '"Notice" names the zip' '^Archive =C:\\e2e\\fz\\pack\.zip in [0-9]+ sec\.$' "$(drv box "#box:Notice")"
  drv ok "#box:Notice"
  check "the extraction window closes" drv gone "$EXTRACTION" 10000 || return 1
  # Two loose members of another program's archive: the box ticked for it puts them in a folder
  # named after the zip.
  check_eq "exactly the two chosen members were written, in a folder named after the zip" \
    "./pack/extra.bin ./pack/notes.txt" "$(cd "$FZ/dest" && find . -type f | sort | paste -sd' ')"
  check "they are byte-identical" \
    eval 'cmp "$FZ/src/extra.bin" "$FZ/dest/pack/extra.bin" && cmp "$FZ/src/notes.txt" "$FZ/dest/pack/notes.txt"'
}

foreign_zip_launch() {
  double_click_row notes.txt || return 1
  check "the text member of the zip is opened by the shell" drv find Notepad notes.txt 20000 || return 1
  check "only that member was extracted to the launch folder" eval \
    '[ "$(cd "$TEMP_UNIX/launchvantor" && find . -type f | paste -sd" ")" = ./notes.txt ] && cmp "$FZ/src/notes.txt" "$TEMP_UNIX/launchvantor/notes.txt"'
  drv close Notepad "notes.txt - Notepad"
  check "the viewer closes" drv gone "notes.txt - Notepad" 10000
  check "the main window is active again" drv foreground "$MAIN" 10000
}

foreign_zip_verify_find() {
  click_control "$MAIN" 4 && check "Verify reports in a box" drv wait "#box:Verify" 30000 || return 1
  check_match "the sound zip is intact" '^All [0-9]+ members of .*pack\.zip are intact' "$(drv box "#box:Verify" | tr '\n' ' ')"
  shot zip-verify
  drv ok "#box:Verify"
  find_for 'deep*' || return 1
  check_eq "Find inside the zip finds the member below two folders" \
    "docs\\sub\\deep.txt|$(kb "$FZ/src/docs/sub/deep.txt")" "$(find_rows)"
  shot zip-find
  open_result "docs\\sub\\deep.txt" || return 1
  check "the main list shows the member's folder inside the zip" wait_rows "..|
deep.txt|$(kb "$FZ/src/docs/sub/deep.txt")" || return 1
  stop_program
}

foreign_zip_damaged() {
  start_program "$FZ" 'C:\e2e\fz\damaged.zip'
  check "the damaged zip opens" drv wait-row "$MAIN" 1 big.txt 20000 || return 1
  click_control "$MAIN" 4 && check "Verify reports in a box" drv wait "#box:Verify" 30000 || return 1
  check_match "the box names the damaged member" 'damaged member.*big\.txt' "$(drv box "#box:Verify" | tr '\n' ' ')"
  shot zip-verify-damaged
  drv ok "#box:Verify"
  stop_program
}

foreign_7z_double_click() {
  start_program "$DRIVE_C"
  check "the list starts at the drive level" drv wait-row "$MAIN" 1 "~(C:)" 10000 || return 1
  double_click_row "~(C:)" && drv wait-row "$MAIN" 1 e2e 10000 >/dev/null || return 1
  double_click_row e2e && drv wait-row "$MAIN" 1 fz 10000 >/dev/null || return 1
  double_click_row fz && drv wait-row "$MAIN" 1 pack.7z 10000 >/dev/null || return 1
  double_click_row pack.7z || return 1
  check "double-click opens the 7z" wait_rows "$(foreign_root_rows)" 20 || return 1
  shot 7z-open
  click_row other.txt && click_control "$MAIN" 5 && check "Delete answers in a box" drv wait "#box:Note:" 10000 || return 1
  check_match "a 7z is read-only" 'pack\.7z is read-only.*\.vnr and \.zip archives only' "$(drv box "#box:Note:")"
  drv ok "#box:Note:"
  check_eq "the 7z is unchanged" "$SEVEN_BEFORE" "$(md5sum <"$FZ/pack.7z")"
  stop_program
}

foreign_add_zip() {
  start_program "$DRIVE_C"
  check "the list starts at the drive level" drv wait-row "$MAIN" 1 "~(C:)" 10000 || return 1
  double_click_row "~(C:)" && drv wait-row "$MAIN" 1 e2e 10000 >/dev/null || return 1
  double_click_row e2e && drv wait-row "$MAIN" 1 fz 10000 >/dev/null || return 1
  double_click_row fz && drv wait-row "$MAIN" 1 src 10000 >/dev/null || return 1
  double_click_row src && drv wait-row "$MAIN" 1 docs 10000 >/dev/null || return 1
  click_row docs && ctrl_click_row notes.txt || return 1
  click_control "$MAIN" 2 && check "Add opens the compression window" drv wait "$COMPRESSION" 10000 || return 1
  drv set-text "$COMPRESSION" 10 'C:\e2e\fz\made.zip' || return 1
  click_control "$COMPRESSION" 21 && click_control "$COMPRESSION" 12 || return 1
  check "a self-extracting zip is refused" drv wait "#box:Note:" 10000 || return 1
  check_match "the box says why" 'cannot be self-extracting' "$(drv box "#box:Note:")"
  drv ok "#box:Note:"
  # Under 32-bit Wine the box can take a moment to go: a click before that is lost.
  drv gone "#box:Note:" 10000 >/dev/null || return 1
  click_control "$COMPRESSION" 21 && wait_for 5 eval '[ "$(drv checked "$COMPRESSION" 21)" = 0 ]' || return 1
  click_control "$COMPRESSION" 12 || return 1
  check '"Added" appears' drv wait "#box:Added" 30000 || return 1
  drv ok "#box:Added"
  check "the compression window closes" drv gone "$COMPRESSION" 10000 || return 1
  check "the archiver wrote a zip a peer accepts" eval 'unzip -tq "$FZ/made.zip" >>"$LOG" 2>&1'
  double_click_row .. && drv wait-row "$MAIN" 1 made.zip 10000 >/dev/null || return 1
  double_click_row made.zip || return 1
  check "the new zip opens again with what was added" wait_rows "..|
docs|
notes.txt|$(kb "$FZ/src/notes.txt")" 20 || return 1
  shot made-zip-open
  stop_program
}

# --- Explorer's menu: the installer's verbs run as Explorer runs them ------------------------------

MENU=$WORK/menu
MENU_WIN='C:\e2e\menu'
# A folder name in two other scripts; the archive "Add to" makes is named after it.
FOREIGN_FOLDER=$'\xd0\xa4\xd0\xbe\xd1\x82\xd0\xbe-\xe5\x86\x99\xe7\x9c\x9f'
VERBS='Software\Classes'
# menu_verb <class> <verb key> <Windows path>: the registered command with "%1" replaced, started
# in the item's folder; sets verb_exit to "exit <code>" or what went wrong.
verb_exit=
menu_verb() {
  verb_exit=$(timeout $((120 * SLOW)) "$WINE" "$DRIVER" verb "$VERBS\\$1\\shell\\VantorArchiver.$2" "$3" \
    $((100000 * SLOW)) 2>>"$LOG" | tee -a "$LOG" | tail -n 1)
}

SETUP="Vantor Archiver e2e Setup"
menu_verb_keys() { "$WINE" reg query "HKCU\\$VERBS\\Directory\\shell" 2>/dev/null </dev/null | grep -c VantorArchiver; }

menu_build_installer() {
  local stub=amd64-unicode
  [ $BITS = 32 ] && stub=x86-unicode
  rm -rf "$ARTIFACTS/stage" && mkdir -p "$ARTIFACTS/stage/data" || return 1
  cp "$BUILD/WinVantor.exe" "$BUILD/vantor.exe" "$ARTIFACTS/stage/" &&
    cp "$BUILD"/data/*.png "$BUILD/data/Help.chm" "$ARTIFACTS/stage/data/" || return 1
  check "makensis builds the installer of this build" makensis -V1 -DVERSION=e2e -DSTAGE="$ARTIFACTS/stage" \
    -DSTUB=$stub -DOUTFILE="$ARTIFACTS/setup.exe" "$ROOT/packaging/vantor.nsi"
}

# The installer's own pages: the check box (control 1201 of its options page) starts ticked; cleared,
# the install writes no verb.
menu_install_unticked() {
  ("$WINE" "$ARTIFACTS/setup.exe" >>"$LOG" 2>&1 </dev/null &)
  check "the installer opens on its options page" drv wait "$SETUP" $((30000 * SLOW)) || return 1
  check_eq "the menu check box starts ticked" 1 "$(drv checked "$SETUP" 1201)" || return 1
  shot installer-options
  click_control "$SETUP" 1201 && check_eq "a click clears it" 0 "$(drv checked "$SETUP" 1201)" || return 1
  # Its caption names each page after the first.
  drv press "$SETUP" 1 && check "Next shows the folder page" drv wait "$SETUP: Installation Folder" || return 1
  drv press "$SETUP: Installation Folder" 1 && check "Install completes" drv wait "$SETUP: Completed" $((60000 * SLOW)) || return 1
  drv press "$SETUP: Completed" 1
  check "the installer closes" drv gone "$SETUP: Completed" $((10000 * SLOW))
  check_eq "the install with the box cleared wrote no verb" 0 "$(menu_verb_keys)"
}

# Every key and command line it writes is checked in tests/packages/run.sh; here they are used.
menu_install() {
  check "the installer runs silently and writes the menu" eval \
    'timeout $((120 * SLOW)) "$WINE" "$ARTIFACTS/setup.exe" /S && [ "$(menu_verb_keys)" = 3 ]'
}

menu_prepare() {
  rm -rf "$MENU" && mkdir -p "$MENU/make/Top/sub" "$MENU/make/loose/docs" "$MENU/$FOREIGN_FOLDER/sub" \
    "$MENU/loose" || return 1
  printf 'top line\r\n' >"$MENU/make/Top/readme.txt"
  head -c 20000 /dev/urandom >"$MENU/make/Top/sub/data.bin"
  seq 1 500 >"$MENU/make/loose/a.txt"
  head -c 7000 /dev/urandom >"$MENU/make/loose/b.bin"
  printf 'in docs\r\n' >"$MENU/make/loose/docs/c.txt"
  printf 'theirs\r\n' >"$MENU/loose/theirs.txt"
  printf '\xe6\x97\xa5\xe8\xa8\x98\r\n' >"$MENU/$FOREIGN_FOLDER/"$'\xe6\x97\xa5\xe8\xa8\x98.txt'
  head -c 9000 /dev/urandom >"$MENU/$FOREIGN_FOLDER/sub/"$'\xcf\x89.bin'
  (cd "$MENU/make" && "$NATIVE_TOOL" a -r "-w$MENU/make/" ../one-top.vnr Top &&
    cd loose && "$NATIVE_TOOL" a -r ../../loose.vnr a.txt b.bin docs) >>"$LOG" 2>&1
  check_eq "one archive has one top folder, the other loose members" \
    "Top/readme.txt Top/sub/data.bin|a.txt b.bin docs/c.txt" \
    "$("$NATIVE_TOOL" l "$MENU/one-top.vnr" | awk '{print $NF}' | sort | paste -sd' ')|$("$NATIVE_TOOL" l \
      "$MENU/loose.vnr" | awk '{print $NF}' | sort | paste -sd' ')"
}

menu_extract_here_top() {
  menu_verb SystemFileAssociations\\.vnr ExtractHere "$MENU_WIN\\one-top.vnr"
  check_eq '"Extract here" on an archive with one top folder ends with 0' "exit 0" "$verb_exit" || return 1
  check "its top folder stands beside it, byte for byte" diff -r "$MENU/make/Top" "$MENU/Top" || return 1
}

menu_extract_here_loose() {
  menu_verb SystemFileAssociations\\.vnr ExtractHere "$MENU_WIN\\loose.vnr"
  check_eq '"Extract here" on loose members ends with 0' "exit 0" "$verb_exit" || return 1
  check 'they go into "loose (2)", byte for byte, as "loose" is taken' diff -r "$MENU/make/loose" "$MENU/loose (2)"
  check_eq "the folder that was there holds only its own file" "theirs.txt" "$(ls "$MENU/loose")"
  check_eq "nothing else was written beside the archives" \
    "$(printf '%s\n' "$FOREIGN_FOLDER" loose 'loose (2)' loose.vnr make one-top.vnr Top | LC_ALL=C sort | paste -sd'|')" \
    "$(ls "$MENU" | LC_ALL=C sort | paste -sd'|')"
}

menu_add_foreign_folder() {
  menu_verb Directory AddVnr "$MENU_WIN\\$FOREIGN_FOLDER"
  check_eq '"Add to" on a folder named in other scripts ends with 0' "exit 0" "$verb_exit" || return 1
  check "the archive is named after the folder" test -s "$MENU/$FOREIGN_FOLDER.vnr" || return 1
  rm -rf "$MENU/check" && mkdir "$MENU/check"
  (cd "$MENU/check" && "$NATIVE_TOOL" x "../$FOREIGN_FOLDER.vnr") >>"$LOG" 2>&1
  check "it holds the folder under its own name, byte for byte" diff -r "$MENU/$FOREIGN_FOLDER" "$MENU/check/$FOREIGN_FOLDER"
}

menu_uninstall() {
  local uninstaller
  uninstaller=$(winepath -u "$("$WINE" reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\VantorArchiver' \
    /v InstallLocation 2>/dev/null </dev/null | tr -d '\r' | sed -n 's/^ .*REG_SZ *//p')\\Uninstall.exe" 2>/dev/null)
  "$WINE" "$uninstaller" /S >>"$LOG" 2>&1 </dev/null
  check "the uninstaller takes the verbs away" wait_for 20 eval \
    '! "$WINE" reg query "HKCU\\$VERBS\\Directory\\shell\\VantorArchiver.AddVnr" >/dev/null 2>&1 </dev/null'
}

# --- Passwords: set in the compression window, asked when the archive opens, never on show --------

PW=$WORK/pw
PASSWORD_WINDOW="Vantor - password"
SECRET="Tr0ub4dor-e2e-$$"
pw_prepare() {
  local i step
  rm -rf "$PW" && mkdir -p "$PW/src" "$PW/dest" || return 1
  printf 'alpha\r\n' >"$PW/src/a.txt"
  for i in $(seq 1 300); do printf 'secret note %03d\r\n' "$i"; done >"$PW/src/notes.txt"
  start_program "$DRIVE_C"
  drv wait-row "$MAIN" 1 "~(C:)" 20000 >/dev/null || return 1
  for step in "~(C:)|e2e" "e2e|pw" "pw|src" "src|notes.txt"; do
    double_click_row "${step%%|*}" && drv wait-row "$MAIN" 1 "${step#*|}" 10000 >/dev/null || return 1
  done
}

# Every process whose command line names this build's vantor.exe: neither its command line nor its
# environment may hold the password. Prints how many were looked at.
pw_processes_clean() {
  local proc command seen=0 build_win="Z:${BUILD//\//\\}"
  for proc in /proc/[0-9]*; do
    command=$({ tr '\0' ' ' <"$proc/cmdline"; } 2>/dev/null) || continue  # gone meanwhile
    [[ $command == *"$build_win"*vantor.exe* ]] || continue
    seen=$((seen + 1))
    echo "$command" >>"$LOG"
    if grep -aq -- "$SECRET" "$proc/cmdline" "$proc/environ" 2>/dev/null; then echo leaked; return 1; fi
  done
  echo "$seen"
}

pw_add() {
  click_row a.txt && ctrl_click_row notes.txt || return 1
  click_control "$MAIN" 2 && check "Add opens the compression window" drv wait "$COMPRESSION" 10000 || return 1
  drv set-text "$COMPRESSION" 10 'C:\e2e\pw\locked.vnr' || return 1
  click_control "$COMPRESSION" 55 && check "Password... opens the password window" drv wait "$PASSWORD_WINDOW" 10000 || return 1
  drv set-text "$PASSWORD_WINDOW" 61 "$SECRET" && drv set-text "$PASSWORD_WINDOW" 63 "${SECRET}x" || return 1
  shot password-window
  click_control "$PASSWORD_WINDOW" 66 && check "two passwords that differ are refused" drv wait "#box:Note:" 10000 || return 1
  check_match "the note says they differ" 'differ' "$(drv box "#box:Note:")"
  drv ok "#box:Note:"
  check "the password window stays open" drv wait "$PASSWORD_WINDOW" 5000 || return 1
  drv set-text "$PASSWORD_WINDOW" 63 "$SECRET" && click_control "$PASSWORD_WINDOW" 64 || return 1
  check_eq "Show password is ticked" 1 "$(drv checked "$PASSWORD_WINDOW" 64)"
  shot password-shown
  click_control "$PASSWORD_WINDOW" 66 && check "OK takes the password" drv gone "$PASSWORD_WINDOW" 10000 || return 1
  check_eq "the compression window says the archive will be encrypted" encrypted "$(drv text "$COMPRESSION" 56)"
  click_control "$COMPRESSION" 12 || return 1
  local watched=0 seen deadline=$((SECONDS + 30 * SLOW))
  while ! drv wait "#box:Added" 1 >/dev/null && [ $SECONDS -lt $deadline ]; do
    seen=$(pw_processes_clean) || { fail "the password is in a process's command line or environment"; return 1; }
    watched=$((watched + seen))
  done
  check '"Added" appears' drv wait "#box:Added" 1000 || return 1
  check "the running archiver was looked at in /proc and showed no password" test "$watched" -gt 0
  drv ok "#box:Added"
  check "the compression window closes" drv gone "$COMPRESSION" 10000 || return 1
  check "the archive exists" test -s "$PW/locked.vnr" || return 1
  check_match "the archiver refuses it without a password" 'a password is needed' "$("$NATIVE_TOOL" t "$PW/locked.vnr" 2>&1)"
  check "nothing of the text is readable in the archive" eval '! grep -aq "secret note" "$PW/locked.vnr"'
  check "the password is in no file of the program's folder or the temporary folder" \
    eval '! grep -rlaq -- "$SECRET" "$BUILD"/*.lis "$TEMP_UNIX" 2>/dev/null'
  return 0
}

pw_open_wrong_then_right() {
  double_click_row .. && drv wait-row "$MAIN" 1 locked.vnr 10000 >/dev/null || return 1
  double_click_row locked.vnr && check "opening asks for the password" drv wait "$PASSWORD_WINDOW" 20000 || return 1
  drv set-text "$PASSWORD_WINDOW" 61 "not-$SECRET" && click_control "$PASSWORD_WINDOW" 66 || return 1
  check "a wrong password is said at once" drv wait "#box:Note:" 60000 || return 1
  check_match "in the archiver's words" '^wrong password for C:\\e2e\\pw\\locked\.vnr' "$(drv box "#box:Note:")"
  shot wrong-password
  drv ok "#box:Note:"
  check "the password is asked again" drv wait "$PASSWORD_WINDOW" 10000 || return 1
  drv set-text "$PASSWORD_WINDOW" 61 "$SECRET" && click_control "$PASSWORD_WINDOW" 61 && xdotool key Return || return 1
  check "the right one, taken by Enter, opens the archive" wait_rows "..|
a.txt|$(kb "$PW/src/a.txt")
notes.txt|$(kb "$PW/src/notes.txt")" 60 || return 1
  shot encrypted-open
}

pw_extract_and_launch() {
  click_row a.txt && ctrl_click_row notes.txt || return 1
  click_control "$MAIN" 3 && check "Extract opens the extraction window" drv wait "$EXTRACTION" 10000 || return 1
  drv set-text "$EXTRACTION" 10 'C:\e2e\pw\dest\' || return 1
  click_control "$EXTRACTION" 12 && check '"Notice" appears without asking again' drv wait "#box:Notice" 60000 || return 1
  drv ok "#box:Notice"
  check "the extraction window closes" drv gone "$EXTRACTION" 10000 || return 1
  check "the members are extracted as they were" eval 'cmp "$PW/src/a.txt" "$PW/dest/a.txt" && cmp "$PW/src/notes.txt" "$PW/dest/notes.txt"'
  double_click_row notes.txt || return 1
  check "a member of the encrypted archive is opened" drv find Notepad notes.txt 60000 || return 1
  check "it was extracted to the launch folder" cmp "$PW/src/notes.txt" "$TEMP_UNIX/launchvantor/notes.txt"
  drv close Notepad "notes.txt - Notepad"
  check "the viewer closes" drv gone "notes.txt - Notepad" 10000
  drv menu "$MAIN" 8  # leaves the archive
  drv menu "$MAIN" 8  # ends the program
  await_exit
  check_eq "the program ends with exit code 0" 0 "$exit_code"
}

# VANTOR_E2E_ONLY="find live" runs only those parts (main, damaged, vd, find, foreign, live, menu, pw): for a
# screenshot of one window without the whole run.
wanted() { [ -z "${VANTOR_E2E_ONLY:-}" ] || [[ " $VANTOR_E2E_ONLY " == *" $1 "* ]]; }

say "# display $DISPLAY, prefix $WINEPREFIX, program $BUILD/WinVantor.exe"
if wanted main; then
  start_program "$DRIVE_C"
  if check "the main window opens" drv wait "$MAIN" 1000; then
    session step1_add step2_browse_archive step3_extract step4_launch step5_leave_and_exit
  fi
  stop_program
fi
wanted damaged && session damaged_prepare damaged_extract
stop_program
wanted vd && session vd_prepare verify_sound verify_damaged delete_folder_and_member
stop_program
wanted find && session find_prepare find_disk find_archive
stop_program
wanted foreign && session foreign_prepare foreign_zip_open foreign_zip_extract_two foreign_zip_launch \
  foreign_zip_verify_find foreign_zip_damaged foreign_7z_double_click foreign_add_zip
stop_program
wanted menu && session menu_build_installer menu_install_unticked menu_install menu_prepare menu_extract_here_top menu_extract_here_loose \
  menu_add_foreign_folder menu_uninstall
wanted pw && session pw_prepare pw_add pw_open_wrong_then_right pw_extract_and_launch
stop_program
wanted live && session live_prepare live_compress_cancel live_extract_cancel live_close_from_outside live_orphan
stop_program
rm -rf "$LIVE"
finish
