; The Windows installer: the ready-to-run folder into Program Files, a Start menu entry,
; "Open with Umbradisc" for .iso files, the installed version for the update check, and an
; uninstaller that removes every file, folder and registry value the installer made.
; scripts/windows/build-installer.sh runs makensis with:
;   -DSOURCE=<ready-to-run folder>  -DFILES=<install list>  -DUNFILES=<uninstall list>
;   -DVERSION=<x.y.z>  -DVERSION_NUMBER=<number the update check compares>  -DOUTFILE=<installer>
; A 64-bit installer for the 64-bit program: Program Files and the registry without redirection.
;
; The registry values it writes, each removed by name on uninstall (HKLM, 64-bit view):
;   Software\Classes\Umbradisc.Image                      (default)
;   Software\Classes\Umbradisc.Image\DefaultIcon          (default)
;   Software\Classes\Umbradisc.Image\shell\open          (default)
;   Software\Classes\Umbradisc.Image\shell\open\command  (default)
;   Software\Classes\.iso\OpenWithProgids                 Umbradisc.Image
;   Software\Classes\Applications\umbradisc.exe\shell\open\command  (default)
;   Software\Classes\Applications\umbradisc.exe\SupportedTypes      .iso
;   Software\KorvantisSoft\Umbradisc                       Version
;   Software\Microsoft\Windows\CurrentVersion\Uninstall\Umbradisc  DisplayName, DisplayVersion,
;     Publisher, DisplayIcon, InstallLocation, UninstallString, QuietUninstallString, NoModify, NoRepair
; A key is removed only when it is empty after that (DeleteRegKey /ifempty, which since NSIS 3.06
; also spares a key that still holds values), and never a key of .iso itself: Windows and other
; programs keep their own values there.
!if ${NSIS_PACKEDVERSION} < 0x03006000
  !error "NSIS 3.06 or later is needed: older versions of DeleteRegKey /ifempty delete keys that still hold values"
!endif
!define SHCNE_ASSOCCHANGED 0x08000000
!define SHCNF_IDLIST 0

Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!define KEY_UNINSTALL "Software\Microsoft\Windows\CurrentVersion\Uninstall\Umbradisc"
!define KEY_SETTINGS "Software\KorvantisSoft\Umbradisc"
!define PROGID "Umbradisc.Image"

Name "Umbradisc ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Umbradisc"
ShowInstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Umbradisc"
  SetShellVarContext all
  !include "${FILES}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "$SMPROGRAMS\Umbradisc.lnk" "$INSTDIR\umbradisc.exe" "" "$INSTDIR\umbradisc.exe" 0

  ; "Open with Umbradisc" for .iso files, without taking the files' default program.
  WriteRegStr HKLM "Software\Classes\${PROGID}" "" "Disc image"
  WriteRegStr HKLM "Software\Classes\${PROGID}\DefaultIcon" "" "$INSTDIR\umbradisc.exe,0"
  WriteRegStr HKLM "Software\Classes\${PROGID}\shell\open" "" "Open with Umbradisc"
  WriteRegStr HKLM "Software\Classes\${PROGID}\shell\open\command" "" '"$INSTDIR\umbradisc.exe" "%1"'
  WriteRegStr HKLM "Software\Classes\.iso\OpenWithProgids" "${PROGID}" ""
  WriteRegStr HKLM "Software\Classes\Applications\umbradisc.exe\shell\open\command" "" '"$INSTDIR\umbradisc.exe" "%1"'
  WriteRegStr HKLM "Software\Classes\Applications\umbradisc.exe\SupportedTypes" ".iso" ""

  ; The installed version, which the update check compares with the published one.
  WriteRegDWORD HKLM "${KEY_SETTINGS}" "Version" ${VERSION_NUMBER}

  WriteRegStr HKLM "${KEY_UNINSTALL}" "DisplayName" "Umbradisc"
  WriteRegStr HKLM "${KEY_UNINSTALL}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${KEY_UNINSTALL}" "Publisher" "KorvantisSoft"
  WriteRegStr HKLM "${KEY_UNINSTALL}" "DisplayIcon" "$INSTDIR\umbradisc.exe,0"
  WriteRegStr HKLM "${KEY_UNINSTALL}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${KEY_UNINSTALL}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${KEY_UNINSTALL}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${KEY_UNINSTALL}" "NoModify" 1
  WriteRegDWORD HKLM "${KEY_UNINSTALL}" "NoRepair" 1

  ; Explorer rereads the associations ("Open with") only when told they changed.
  System::Call 'shell32::SHChangeNotify(i ${SHCNE_ASSOCCHANGED}, i ${SHCNF_IDLIST}, p 0, p 0)'
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\Umbradisc.lnk"
  ; Only what the installer put there, by name: a file the user added keeps its folder.
  !include "${UNFILES}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  ; The values listed at the top, by name; then the keys they leave empty, deepest first.
  DeleteRegValue HKLM "Software\Classes\${PROGID}\shell\open\command" ""
  DeleteRegKey /ifempty HKLM "Software\Classes\${PROGID}\shell\open\command"
  DeleteRegValue HKLM "Software\Classes\${PROGID}\shell\open" ""
  DeleteRegKey /ifempty HKLM "Software\Classes\${PROGID}\shell\open"
  DeleteRegKey /ifempty HKLM "Software\Classes\${PROGID}\shell"
  DeleteRegValue HKLM "Software\Classes\${PROGID}\DefaultIcon" ""
  DeleteRegKey /ifempty HKLM "Software\Classes\${PROGID}\DefaultIcon"
  DeleteRegValue HKLM "Software\Classes\${PROGID}" ""
  DeleteRegKey /ifempty HKLM "Software\Classes\${PROGID}"
  ; Under .iso only our own value goes; its keys stay whatever they hold.
  DeleteRegValue HKLM "Software\Classes\.iso\OpenWithProgids" "${PROGID}"
  DeleteRegValue HKLM "Software\Classes\Applications\umbradisc.exe\shell\open\command" ""
  DeleteRegKey /ifempty HKLM "Software\Classes\Applications\umbradisc.exe\shell\open\command"
  DeleteRegKey /ifempty HKLM "Software\Classes\Applications\umbradisc.exe\shell\open"
  DeleteRegKey /ifempty HKLM "Software\Classes\Applications\umbradisc.exe\shell"
  DeleteRegValue HKLM "Software\Classes\Applications\umbradisc.exe\SupportedTypes" ".iso"
  DeleteRegKey /ifempty HKLM "Software\Classes\Applications\umbradisc.exe\SupportedTypes"
  DeleteRegKey /ifempty HKLM "Software\Classes\Applications\umbradisc.exe"
  DeleteRegValue HKLM "${KEY_SETTINGS}" "Version"
  DeleteRegKey /ifempty HKLM "${KEY_SETTINGS}"
  DeleteRegKey /ifempty HKLM "Software\KorvantisSoft"
  DeleteRegValue HKLM "${KEY_UNINSTALL}" "DisplayName"
  DeleteRegValue HKLM "${KEY_UNINSTALL}" "DisplayVersion"
  DeleteRegValue HKLM "${KEY_UNINSTALL}" "Publisher"
  DeleteRegValue HKLM "${KEY_UNINSTALL}" "DisplayIcon"
  DeleteRegValue HKLM "${KEY_UNINSTALL}" "InstallLocation"
  DeleteRegValue HKLM "${KEY_UNINSTALL}" "UninstallString"
  DeleteRegValue HKLM "${KEY_UNINSTALL}" "QuietUninstallString"
  DeleteRegValue HKLM "${KEY_UNINSTALL}" "NoModify"
  DeleteRegValue HKLM "${KEY_UNINSTALL}" "NoRepair"
  DeleteRegKey /ifempty HKLM "${KEY_UNINSTALL}"

  System::Call 'shell32::SHChangeNotify(i ${SHCNE_ASSOCCHANGED}, i ${SHCNF_IDLIST}, p 0, p 0)'
SectionEnd
