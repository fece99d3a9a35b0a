#!/usr/bin/env bash
# Checks the Windows packages of the i686 build: the portable zip and the installer hold exactly the
# shipped files, the programs import only system libraries and carry their manifests, and the
# shipped installer installs, registers ".vnr" and Explorer's menu (or not, with /NOMENU) and
# uninstalls, leaving others' keys, under 32-bit Wine. Where 32-bit Wine
# cannot run (see scripts/wine-env.sh), a 64-bit twin made by makensis from the same script and
# the zip's files stands in for it under wine64, and the run says so.
# Usage: tests/packages/run.sh [build dir, default build/win32]
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$PWD
BUILD=$(cd "${1:-build/win32}" && pwd)
VERSION=$(sed -n 's/^project(Vantor VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
ZIP=$BUILD/VantorArchiver-$VERSION-portable.zip
SETUP=$BUILD/VantorArchiver-$VERSION-setup.exe
WORK=$BUILD/package/test
failures=0

fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
# A check left out is said, and noted in $VANTOR_SKIP_LOG for the test command's summary.
skipped() {
  echo "SKIPPED: $*"
  [ -z "${VANTOR_SKIP_LOG:-}" ] || echo "SKIPPED: $*" >>"$VANTOR_SKIP_LOG"
}
# PE machine field: 14c for i386, 8664 for x86-64.
pe_machine() {
  python3 -c 'import struct,sys
d=open(sys.argv[1],"rb").read(4096); o=struct.unpack("<I",d[60:64])[0]
print("%x" % struct.unpack("<H",d[o+4:o+6])[0] if d[:2]==b"MZ" and d[o:o+4]==b"PE\0\0" else "none")' "$1"
}

# What Windows loads with a program: only its own libraries, so nothing else may be imported
# (bcrypt.dll, where libarchive takes its random numbers, has come with Windows since Vista).
SYSTEM_DLLS=" advapi32.dll bcrypt.dll comctl32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll "
SYSTEM_DLLS+=" ole32.dll oleaut32.dll shell32.dll user32.dll "
check_image() {
  local exe=$1 name=${1##*/} info imports dll manifest
  info=$(python3 "$ROOT/tests/packages/pe_info.py" "$exe") || { fail "$name is not a readable PE image"; return; }
  imports=$(sed -n 's/^import //p' <<<"$info" | tr '\n' ' ')
  for dll in $imports; do
    [[ $SYSTEM_DLLS == *" $dll "* ]] || fail "$name imports $dll, which Windows does not provide"
  done
  pass "$name imports only system libraries: $imports"
  manifest=$(sed -n 's/^manifest //p' <<<"$info")
  if [ "$name" = vantor.exe ]; then
    grep -qx 'large-address-aware 1' <<<"$info" && pass "vantor.exe may use more than 2 GB" ||
      fail "vantor.exe lacks the large-address-aware flag"
  fi
  if [ "$name" = WinVantor.exe ]; then
    grep -q 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' <<<"$manifest" &&
      pass "WinVantor.exe's manifest asks for common controls 6" ||
      fail "WinVantor.exe has no manifest asking for common controls 6"
    # The main window keeps its fixed layout on high-DPI screens; the system scales its text.
    grep -Eq '<gdiScaling xmlns="http://schemas.microsoft.com/SMI/2017/WindowsSettings">true</gdiScaling>' <<<"$manifest" &&
      pass "WinVantor.exe's manifest lets the system scale its text (gdiScaling)" ||
      fail "WinVantor.exe's manifest does not declare gdiScaling"
  fi
  # Names are UTF-8 throughout: each program runs in the UTF-8 code page.
  grep -Eq '<activeCodePage[^>]*>UTF-8</activeCodePage>' <<<"$manifest" && pass "$name's manifest sets the UTF-8 code page" ||
    fail "$name has no manifest setting the UTF-8 code page"
  if [ -n "$manifest" ]; then
    python3 -c 'import sys, xml.dom.minidom as m; m.parseString(sys.stdin.read().encode())' <<<"$manifest" 2>/dev/null ||
      fail "$name's manifest is not well-formed XML"
  fi
}

rm -rf "$WORK" && mkdir -p "$WORK"
expected=$( { echo WinVantor.exe; echo vantor.exe; echo data/Help.chm
              for f in data/*.png; do echo "data/${f##*/}"; done; } | sort)

# --- portable zip ---------------------------------------------------------------------------------
if [ ! -f "$ZIP" ]; then
  fail "no portable zip at $ZIP"
else
  got=$(unzip -Z1 "$ZIP" | grep -v '/$' | sort)
  [ "$got" = "$expected" ] && pass "zip holds exactly the program, the archiver and data" ||
    fail "zip members differ:"$'\n'"$(diff <(echo "$expected") <(echo "$got") || true)"
  unzip -q "$ZIP" -d "$WORK/zip"
  for exe in WinVantor.exe vantor.exe; do
    [ "$(pe_machine "$WORK/zip/$exe")" = 14c ] && pass "zip's $exe is 32-bit x86" ||
      fail "zip's $exe is not a 32-bit x86 program"
  done
  for f in data/*.png; do
    cmp -s "$f" "$WORK/zip/$f" || fail "zip's $f differs from the source icon"
  done
  for exe in WinVantor.exe vantor.exe; do check_image "$WORK/zip/$exe"; done
  # The self-extracting program travels inside vantor.exe; its image is checked where it was built.
  check_image "$BUILD/tool/vantor_sfx.exe"
  [ "$(head -c 4 "$WORK/zip/data/Help.chm" 2>/dev/null)" = ITSF ] && pass "zip's Help.chm is a compiled help file" ||
    fail "zip's Help.chm is not a compiled help file"
fi

# --- installer ------------------------------------------------------------------------------------
if [ ! -f "$SETUP" ]; then
  fail "no installer at $SETUP"
else
  [ "$(pe_machine "$SETUP")" = 14c ] && pass "installer is 32-bit x86" || fail "installer is not 32-bit x86"
  7z x -y -bd -o"$WORK/setup" "$SETUP" >/dev/null
  got=$(cd "$WORK/setup" && find . -type f ! -path './$PLUGINSDIR/*' ! -name Uninstall.exe | sed 's|^\./||' | sort)
  [ "$got" = "$expected" ] && pass "installer carries the same files as the zip" ||
    fail "installer files differ:"$'\n'"$(diff <(echo "$expected") <(echo "$got") || true)"
  [ -d "$WORK/zip" ] && while read -r f; do
    cmp -s "$WORK/zip/$f" "$WORK/setup/$f" || fail "installer's $f differs from the zip's"
  done <<<"$expected"
fi

# --- install and uninstall under Wine -------------------------------------------------------------
if [ -d "$WORK/zip" ]; then
  export WINEPREFIX=$WORK/wineprefix
  unset WINEARCH
  if [ "${VANTOR_SKIP_WIN32:-0}" != 1 ] && VANTOR_WINE_BITS=32 bash -c 'source scripts/wine-env.sh; ! wine32_unavailable >/dev/null'; then
    export VANTOR_WINE_BITS=32
    INSTALLER=$SETUP
  else
    export VANTOR_WINE_BITS=64
    INSTALLER=$WORK/setup64.exe
    skipped "packages' install by the 32-bit installer: 32-bit Wine cannot run here; a 64-bit twin of it is installed instead"
    makensis -V1 -DVERSION="$VERSION" -DSTAGE="$WORK/zip" -DICON="$ROOT/data/WinVantor.ico" -DSTUB=amd64-unicode \
      -DOUTFILE="$INSTALLER" "$ROOT/packaging/vantor.nsi"
  fi
  source scripts/wine-env.sh
  trap wine_env_stop EXIT
  wine_env_start
  W=$VANTOR_WINE
  win() { "$W" "$@" 2>/dev/null </dev/null | tr -d '\r'; }
  # A value of a key (its default value without a name), or nothing when it is missing.
  reg_value() {
    if [ $# -gt 1 ]; then set -- "$1" /v "$2"; else set -- "$1" /ve; fi
    win reg query "$@" | sed -n 's/^ .*REG_[A-Z]* *//p' | head -n 1
  }
  key_exists() { "$W" reg query "$1" >/dev/null 2>&1 </dev/null; }
  # The uninstaller reruns itself from a temporary copy and returns at once: wait for its last step.
  wait_uninstalled() {
    local i
    for i in $(seq 1 100); do key_exists "$UNINSTALL_KEY" || return 0; sleep 0.2; done
    return 1
  }
  CLASSES='HKCU\Software\Classes'
  # Every value under the user's classes, one "key|name|data" line each, keys relative to Classes
  # (nothing while a fresh prefix has no such key).
  classes_dump() {
    { win reg query "$CLASSES" /s || true; } | awk '
      /^HKEY_/ { key = $0; sub(/^HKEY_CURRENT_USER\\Software\\Classes\\?/, "", key); print key "|"; next }
      /^    / { sub(/^    /, ""); n = index($0, "    REG_"); rest = substr($0, n + 4); sub(/^REG_[A-Z_]* */, "", rest)
                print key "|" substr($0, 1, n - 1) "|" rest }' | sort
  }
  menu_dump() { classes_dump | grep '\\shell\\VantorArchiver\.' || true; }
  # The right-click menu as the installer must write it into $1 (a Windows folder): the item verbs
  # for files and folders, the archive verbs for ".vnr" and every foreign kind the front end opens.
  expected_menu() {
    local exe="\"$1\\WinVantor.exe\"" icon="$1\\WinVantor.exe,0" class ext kinds
    verb() {  # <class> <key> <text> <arguments> <model>
      local key="$1\\shell\\VantorArchiver.$2"
      printf '%s|\n%s|(Default)|%s\n%s|Icon|%s\n%s|MultiSelectModel|%s\n%s\\command|\n%s\\command|(Default)|%s\n' \
        "$key" "$key" "$3" "$key" "$icon" "$key" "$5" "$key" "$key" "$exe $4\"%1\""
    }
    kinds=$(sed -n '/FOREIGN_EXTENSIONS\[\] = {/,/};/p' "$ROOT/src/archive/foreign_listing.cpp" | grep -o '"[a-z0-9]*"' | tr -d '"')
    {
      for class in '*' Directory; do
        verb "$class" AddVnr "Add to .vnr archive of the same name" "/job:add-vnr " Player
        verb "$class" AddZip "Add to .zip archive of the same name" "/job:add-zip " Player
        verb "$class" Each "Compress each to its own archive" "/job:each " Player
      done
      for ext in vnr $kinds; do
        class="SystemFileAssociations\\.$ext"
        verb "$class" ExtractHere "Extract here" "/job:here " Player
        verb "$class" ExtractTo "Extract to a folder of the same name" "/job:to " Player
        [ $ext = vnr ] || verb "$class" Open "Open with Vantor Archiver" "" Document
        verb "$class" Verify "Verify" "/job:verify " Player
      done
    } | sort
  }
  UNINSTALL_KEY='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\VantorArchiver'
  local_app=$(win cmd /c echo %LOCALAPPDATA%)
  app_data=$(winepath -u "$(win cmd /c echo %APPDATA%)" 2>/dev/null)
  SHORTCUT="$app_data/Microsoft/Windows/Start Menu/Programs/Vantor Archiver.lnk"
  DIR_WIN="$local_app\\Programs\\Vantor Archiver"
  DIR=$(winepath -u "$DIR_WIN" 2>/dev/null)

  # check_menu <Windows folder> <what passed>: the menu is exactly the one for that folder.
  check_menu() {
    local differs
    differs=$(diff <(expected_menu "$1") <(menu_dump)) && pass "$2" ||
      fail "right-click menu differs from the one expected for $1:"$'\n'"$differs"
  }
  check_no_menu() { [ -z "$(menu_dump)" ] && pass "$1" || fail "$1: found"$'\n'"$(menu_dump)"; }

  # Default install: every file in place, shortcut, association, menu and Add/Remove entry.
  classes_before=$(classes_dump)
  "$W" "$INSTALLER" /S >/dev/null 2>&1 </dev/null || fail "silent install exited with $?"
  missing=0
  while read -r f; do cmp -s "$WORK/zip/$f" "$DIR/$f" || { fail "installed $f missing or different"; missing=1; }; done <<<"$expected"
  [ $missing = 0 ] && pass "silent install put every file into $DIR_WIN"
  [ -f "$DIR/Uninstall.exe" ] && pass "uninstaller written" || fail "no Uninstall.exe in $DIR_WIN"
  [ -f "$SHORTCUT" ] && pass "Start menu shortcut created" || fail "no Start menu shortcut at $SHORTCUT"
  progid=$(reg_value "$CLASSES\\.vnr")
  command=$(reg_value "$CLASSES\\$progid\\shell\\open\\command")
  [ -n "$progid" ] && [ "$command" = "\"$DIR_WIN\\WinVantor.exe\" \"%1\"" ] &&
    pass ".vnr opens with: $command" || fail ".vnr not registered (type '$progid', command '$command')"
  exe_in_command=$(sed 's/^"\([^"]*\)".*/\1/' <<<"$command")
  [ -f "$(winepath -u "$exe_in_command" 2>/dev/null)" ] || fail "the open command names no installed program"
  [ "$(reg_value "$UNINSTALL_KEY" UninstallString)" = "\"$DIR_WIN\\Uninstall.exe\"" ] &&
    pass "Add/Remove entry points at the uninstaller" || fail "Add/Remove entry missing or wrong"
  check_menu "$DIR_WIN" "install wrote the right-click menu: every verb, text and command line"

  # The program writes its list file beside itself; the uninstaller takes it along.
  echo list >"$DIR/master.lis"
  "$W" "$DIR/Uninstall.exe" /S >/dev/null 2>&1 </dev/null || true
  wait_uninstalled || fail "uninstaller did not remove its Add/Remove entry"
  [ ! -e "$DIR" ] && pass "uninstall removed the program folder" ||
    fail "uninstall left $(cd "$DIR" && find . | tr '\n' ' ')"
  before=$failures
  [ ! -e "$SHORTCUT" ] || fail "uninstall left the Start menu shortcut"
  for key in "$CLASSES\\.vnr" "$CLASSES\\VantorArchiver.vnr"; do
    ! key_exists "$key" || fail "uninstall left $key"
  done
  [ $failures = "$before" ] && pass "uninstall removed the shortcut and the registry keys"
  [ "$(classes_dump)" = "$classes_before" ] && pass "uninstall left the user's classes as they were before" ||
    fail "uninstall changed the user's classes:"$'\n'"$(diff <(echo "$classes_before") <(classes_dump))"

  # A chosen folder holding the user's own archive, and ".vnr" claimed by another program since:
  # the uninstaller removes only what it installed.
  MINE_WIN='C:\users\Public\Mine'
  MINE=$(winepath -u "$MINE_WIN" 2>/dev/null)
  mkdir -p "$MINE" && echo archive >"$MINE/Archive.vnr"
  # Another program's folder type and verb beside ours; /NOMENU leaves the menu out, and a later
  # install with it takes away the menu an earlier one wrote.
  "$W" reg add "$CLASSES\\Directory" /ve /d Theirs /f >/dev/null 2>&1 </dev/null
  "$W" reg add "$CLASSES\\SystemFileAssociations\\.zip\\shell\\Theirs\\command" /ve /d theirs.exe /f >/dev/null 2>&1 </dev/null
  classes_before=$(classes_dump)
  "$W" "$INSTALLER" /S /NOMENU "/D=$MINE_WIN" >/dev/null 2>&1 </dev/null || fail "install with /NOMENU exited with $?"
  [ -f "$MINE/WinVantor.exe" ] || fail "install ignored the chosen folder"
  check_no_menu "install with /NOMENU wrote no menu verb"
  "$W" "$INSTALLER" /S "/D=$MINE_WIN" >/dev/null 2>&1 </dev/null || fail "silent install into $MINE_WIN exited with $?"
  check_menu "$MINE_WIN" "install over it without /NOMENU wrote the menu for $MINE_WIN"
  "$W" "$INSTALLER" /S /NOMENU "/D=$MINE_WIN" >/dev/null 2>&1 </dev/null || fail "install with /NOMENU exited with $?"
  check_no_menu "install again with /NOMENU removed the menu"
  "$W" reg add "$CLASSES\\.vnr" /ve /d Other.vnr /f >/dev/null 2>&1 </dev/null
  "$W" "$MINE/Uninstall.exe" /S >/dev/null 2>&1 </dev/null || true
  wait_uninstalled || fail "uninstaller did not finish in $MINE_WIN"
  left=$(cd "$MINE" 2>/dev/null && find . -type f | sort | tr '\n' ' ') || left="(folder gone)"
  [ "$left" = "./Archive.vnr " ] && pass "uninstall kept the user's archive and removed the rest" ||
    fail "after uninstall $MINE_WIN holds: $left"
  [ "$(reg_value "$CLASSES\\.vnr")" = Other.vnr ] && pass "uninstall left another program's .vnr claim alone" ||
    fail "uninstall removed another program's .vnr claim"
  ! key_exists "$CLASSES\\VantorArchiver.vnr" || fail "uninstall left the VantorArchiver.vnr type"
  [ "$(classes_dump | grep -v '^\.vnr|')" = "$classes_before" ] &&
    pass "uninstall without the menu kept another program's folder type and verb" ||
    fail "uninstall changed others' classes:"$'\n'"$(diff <(echo "$classes_before") <(classes_dump))"
  wine_env_stop
  trap - EXIT
  # A fresh prefix weighs hundreds of megabytes: keep it only to look into a failure.
  [ $failures -ne 0 ] || rm -rf "$WINEPREFIX"
fi

if [ $failures -ne 0 ]; then
  echo "packages: $failures failure(s)" >&2
  exit 1
fi
echo "packages: all checks passed"
