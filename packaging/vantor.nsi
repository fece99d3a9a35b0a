; Per-user installer of Vantor Archiver.
; makensis -DVERSION=x.y.z -DSTAGE=<folder with WinVantor.exe, vantor.exe, data\> -DOUTFILE=<setup.exe>
;          [-DICON=<.ico>] [-DSTUB=amd64-unicode]
; The program writes master.lis (and, by default, new archives) beside itself, so it goes into the
; user's own programs folder, which stays writable, and needs no administrator rights.

!ifndef VERSION
  !error "VERSION must be defined"
!endif
!ifndef STAGE
  !error "STAGE must be defined"
!endif
!ifndef OUTFILE
  !error "OUTFILE must be defined"
!endif
; The shipped installer is 32-bit like the program; a 64-bit stub lets a 64-bit-only host run it.
!ifndef STUB
  !define STUB x86-unicode
!endif
Target ${STUB}

!include LogicLib.nsh

!define APP "Vantor Archiver"
!define PROGID "VantorArchiver.vnr"
!define CLASSES "Software\Classes"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VantorArchiver"
!define SHORTCUT "$SMPROGRAMS\${APP}.lnk"

Name "${APP} ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\${APP}"
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show
!ifdef ICON
  Icon "${ICON}"
  UninstallIcon "${ICON}"
!endif

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; Every shipped file, named once for both directions: the uninstaller removes exactly these and
; never sweeps the folder, which may hold the user's own archives and extracted files.
!macro VANTOR_FILES ACTION
  !insertmacro ${ACTION} "WinVantor.exe"
  !insertmacro ${ACTION} "vantor.exe"
  !insertmacro ${ACTION} "data\Add.png"
  !insertmacro ${ACTION} "data\Delete.png"
  !insertmacro ${ACTION} "data\Extract.png"
  !insertmacro ${ACTION} "data\Find.png"
  !insertmacro ${ACTION} "data\Info.png"
  !insertmacro ${ACTION} "data\SelectAll.png"
  !insertmacro ${ACTION} "data\Verify.png"
  !insertmacro ${ACTION} "data\return.png"
  !insertmacro ${ACTION} "data\Help.chm"
!macroend
!macro INSTALL_FILE NAME
  File "/oname=$INSTDIR\${NAME}" "${STAGE}\${NAME}"
!macroend
!macro REMOVE_FILE NAME
  Delete "$INSTDIR\${NAME}"
!macroend

Function .onInit
  SetShellVarContext current
FunctionEnd

Function un.onInit
  SetShellVarContext current
FunctionEnd

Section "Install"
  CreateDirectory "$INSTDIR\data"
  !insertmacro VANTOR_FILES INSTALL_FILE
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; The shortcut's working folder is the program's own.
  SetOutPath "$INSTDIR"
  CreateShortcut "${SHORTCUT}" "$INSTDIR\WinVantor.exe" "" "$INSTDIR\WinVantor.exe" 0

  ; An archive opened from Explorer arrives as its full path in quotes.
  WriteRegStr HKCU "${CLASSES}\.vnr" "" "${PROGID}"
  WriteRegStr HKCU "${CLASSES}\.vnr\OpenWithProgids" "${PROGID}" ""
  WriteRegStr HKCU "${CLASSES}\${PROGID}" "" "Vantor archive"
  WriteRegStr HKCU "${CLASSES}\${PROGID}\DefaultIcon" "" "$INSTDIR\WinVantor.exe,0"
  WriteRegStr HKCU "${CLASSES}\${PROGID}\shell\open\command" "" '"$INSTDIR\WinVantor.exe" "%1"'

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${APP}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\WinVantor.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  SectionGetSize 0 $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0

  ; SHCNE_ASSOCCHANGED: Explorer picks up the new icon and open command at once.
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd

Section "Uninstall"
  !insertmacro VANTOR_FILES REMOVE_FILE
  ; The list file the program writes for every compression.
  Delete "$INSTDIR\master.lis"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR\data"
  RMDir "$INSTDIR"
  ${If} ${FileExists} "$INSTDIR\*.*"
    DetailPrint "Kept $INSTDIR: it holds files that were not installed (archives or extracted files)."
  ${EndIf}

  Delete "${SHORTCUT}"

  ; Leave the extension alone when another program has claimed it since.
  ReadRegStr $0 HKCU "${CLASSES}\.vnr" ""
  ${If} $0 == "${PROGID}"
    DeleteRegValue HKCU "${CLASSES}\.vnr" ""
  ${EndIf}
  DeleteRegValue HKCU "${CLASSES}\.vnr\OpenWithProgids" "${PROGID}"
  DeleteRegKey /ifempty HKCU "${CLASSES}\.vnr\OpenWithProgids"
  DeleteRegKey /ifempty HKCU "${CLASSES}\.vnr"
  DeleteRegKey HKCU "${CLASSES}\${PROGID}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"

  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd
