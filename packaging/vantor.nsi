; Per-user installer of Vantor Archiver.
; makensis -DVERSION=x.y.z -DSTAGE=<folder with WinVantor.exe, vantor.exe, data\> -DOUTFILE=<setup.exe>
;          [-DICON=<.ico>] [-DSTUB=amd64-unicode]
; Switches of the built installer: /S silent, /NOMENU leaves the right-click menu out (as clearing
; the check box on the options page does), /D=<folder> last.
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
!include FileFunc.nsh
!include nsDialogs.nsh

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

Page custom options_page options_page_leave
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

; The right-click menu: static verbs under the user's classes, one process per chosen item. Every
; verb key is ours alone (VantorArchiver.*), named once here for writing and for removing.
; Several chosen items reach WinVantor as several processes; "Player" keeps the verb on the menu
; for up to 100 of them, "Document" (one window each) for up to 15.
!define VERB_PREFIX "VantorArchiver."
!macro ITEM_VERBS ACTION CLASS
  !insertmacro ${ACTION} "${CLASS}" AddVnr "Add to .vnr archive of the same name" "/job:add-vnr " Player
  !insertmacro ${ACTION} "${CLASS}" AddZip "Add to .zip archive of the same name" "/job:add-zip " Player
  !insertmacro ${ACTION} "${CLASS}" Each "Compress each to its own archive" "/job:each " Player
!macroend
; Other programs' kinds get their verbs beside whatever program opens them, never a new default.
; ".vnr" opens with us already, so it needs no second "Open".
!macro ARCHIVE_VERBS ACTION EXT
  !insertmacro ${ACTION} "SystemFileAssociations\.${EXT}" ExtractHere "Extract here" "/job:here " Player
  !insertmacro ${ACTION} "SystemFileAssociations\.${EXT}" ExtractTo "Extract to a folder of the same name" "/job:to " Player
  !if "${EXT}" != "vnr"
    !insertmacro ${ACTION} "SystemFileAssociations\.${EXT}" Open "Open with Vantor Archiver" "" Document
  !endif
  !insertmacro ${ACTION} "SystemFileAssociations\.${EXT}" Verify "Verify" "/job:verify " Player
!macroend
; Every kind the front end opens as an archive (is_archive_name: ".vnr" and the foreign kinds);
; tests/packages/run.sh holds this list against the front end's.
!macro MENU_VERBS ACTION
  !insertmacro ITEM_VERBS ${ACTION} "*"
  !insertmacro ITEM_VERBS ${ACTION} "Directory"
  !insertmacro ARCHIVE_VERBS ${ACTION} vnr
  !insertmacro ARCHIVE_VERBS ${ACTION} zip
  !insertmacro ARCHIVE_VERBS ${ACTION} 7z
  !insertmacro ARCHIVE_VERBS ${ACTION} rar
  !insertmacro ARCHIVE_VERBS ${ACTION} tar
  !insertmacro ARCHIVE_VERBS ${ACTION} tgz
  !insertmacro ARCHIVE_VERBS ${ACTION} tbz
  !insertmacro ARCHIVE_VERBS ${ACTION} tbz2
  !insertmacro ARCHIVE_VERBS ${ACTION} txz
  !insertmacro ARCHIVE_VERBS ${ACTION} tzst
  !insertmacro ARCHIVE_VERBS ${ACTION} taz
  !insertmacro ARCHIVE_VERBS ${ACTION} gz
  !insertmacro ARCHIVE_VERBS ${ACTION} bz2
  !insertmacro ARCHIVE_VERBS ${ACTION} xz
  !insertmacro ARCHIVE_VERBS ${ACTION} zst
  !insertmacro ARCHIVE_VERBS ${ACTION} lz4
  !insertmacro ARCHIVE_VERBS ${ACTION} z
  !insertmacro ARCHIVE_VERBS ${ACTION} iso
  !insertmacro ARCHIVE_VERBS ${ACTION} cab
  !insertmacro ARCHIVE_VERBS ${ACTION} lzh
  !insertmacro ARCHIVE_VERBS ${ACTION} lha
  !insertmacro ARCHIVE_VERBS ${ACTION} cpio
  !insertmacro ARCHIVE_VERBS ${ACTION} ar
  !insertmacro ARCHIVE_VERBS ${ACTION} deb
  !insertmacro ARCHIVE_VERBS ${ACTION} lzma
  !insertmacro ARCHIVE_VERBS ${ACTION} tlz
!macroend
!macro WRITE_VERB CLASS NAME TEXT ARGS MODEL
  WriteRegStr HKCU "${CLASSES}\${CLASS}\shell\${VERB_PREFIX}${NAME}" "" "${TEXT}"
  WriteRegStr HKCU "${CLASSES}\${CLASS}\shell\${VERB_PREFIX}${NAME}" "Icon" "$INSTDIR\WinVantor.exe,0"
  WriteRegStr HKCU "${CLASSES}\${CLASS}\shell\${VERB_PREFIX}${NAME}" "MultiSelectModel" "${MODEL}"
  WriteRegStr HKCU "${CLASSES}\${CLASS}\shell\${VERB_PREFIX}${NAME}\command" "" '"$INSTDIR\WinVantor.exe" ${ARGS}"%1"'
!macroend
; Our verb goes, and then each key above it that held nothing but it, up to Software\Classes:
; another program's verbs, values and keys stay.
!macro REMOVE_VERB_WITH UN CLASS NAME
  DeleteRegKey HKCU "${CLASSES}\${CLASS}\shell\${VERB_PREFIX}${NAME}"
  Push "${CLASSES}\${CLASS}\shell"
  Call ${UN}DeleteEmptyKeys
!macroend
!macro REMOVE_VERB CLASS NAME TEXT ARGS MODEL
  !insertmacro REMOVE_VERB_WITH "" "${CLASS}" ${NAME}
!macroend
!macro UN_REMOVE_VERB CLASS NAME TEXT ARGS MODEL
  !insertmacro REMOVE_VERB_WITH "un." "${CLASS}" ${NAME}
!macroend

; Deletes the HKCU key on the stack, then its parents, while a key has neither subkeys nor values
; (NSIS's DeleteRegKey /ifempty looks at subkeys only), stopping at Software\Classes.
!macro DELETE_EMPTY_KEYS_FUNCTION UN
Function ${UN}DeleteEmptyKeys
  Exch $0
  Push $1
  Push $2
  Push $3
  Push $4
  ${DoWhile} $0 != "${CLASSES}"
    ; HKEY_CURRENT_USER as a sign-extended handle, which both stubs pass right.
    System::Call 'advapi32::RegOpenKeyExW(p -2147483647, w r0, i 0, i 0x20019, *p .r1) i .r2'
    ${IfThen} $2 != 0 ${|} ${ExitDo} ${|}
    System::Call 'advapi32::RegQueryInfoKeyW(p r1, p 0, p 0, p 0, *i .r3, p 0, p 0, *i .r4, p 0, p 0, p 0, p 0) i .r2'
    System::Call 'advapi32::RegCloseKey(p r1)'
    ${If} $2 != 0
    ${OrIf} $3 != 0
    ${OrIf} $4 != 0
      ${ExitDo}
    ${EndIf}
    DeleteRegKey HKCU $0
    ${GetParent} $0 $0
  ${Loop}
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro DELETE_EMPTY_KEYS_FUNCTION ""
!insertmacro DELETE_EMPTY_KEYS_FUNCTION "un."

Var add_menu        ; 1: write the right-click menu
Var menu_check_box

Function .onInit
  SetShellVarContext current
  ; /NOMENU for silent installs, the same as clearing the check box.
  StrCpy $add_menu 1
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/NOMENU" $1
  ${IfNot} ${Errors}
  ${AndIf} $1 == ""
    StrCpy $add_menu 0
  ${EndIf}
FunctionEnd

Function options_page
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 36u "Explorer's menu for files and folders can offer Vantor Archiver's verbs: add to an archive, compress each item to its own archive, and for archives extract here, extract to a folder, open and verify."
  Pop $0
  ${NSD_CreateCheckBox} 0 44u 100% 12u "Add Vantor Archiver to Explorer's right-click menu"
  Pop $menu_check_box
  ${NSD_SetState} $menu_check_box $add_menu
  nsDialogs::Show
FunctionEnd

Function options_page_leave
  ${NSD_GetState} $menu_check_box $add_menu
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

  ; Left out this time: a menu an earlier install wrote goes.
  ${If} $add_menu == 1
    !insertmacro MENU_VERBS WRITE_VERB
  ${Else}
    !insertmacro MENU_VERBS REMOVE_VERB
  ${EndIf}

  ; SHCNE_ASSOCCHANGED: Explorer picks up the new icon, open command and menu at once.
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
  ; Whether or not the menu was installed: only our own verb keys are touched.
  !insertmacro MENU_VERBS UN_REMOVE_VERB
  DeleteRegKey HKCU "${UNINSTALL_KEY}"

  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd
