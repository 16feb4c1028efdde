; The per-user installer of the window client: no administrator, into
; %LOCALAPPDATA%\Programs\brin2, a Start-menu entry that works in %APPDATA%\brin2
; (--user-dir) and, when chosen, a start at login. The uninstaller removes what
; the installer put down and nothing of the user's: brin.ini, history.ini and
; ping.bat in %APPDATA%\brin2 stay, and so does anything of theirs in the
; program's folder.
;   makensis -DVERSION=.. -DSTAGE=DIR -DICON=.. -DOUTFILE=.. brin2.nsi
; /S installs silently; /AUTOSTART with it turns the start at login on.
; 64-bit, as the programs are (and as Wine runs it without 32-bit support).
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "Sections.nsh"

!define PRODUCT "Сорвель-А"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\brin2"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\brin2"
InstallDirRegKey HKCU "${UNINST_KEY}" "InstallLocation"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1049 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1049 "FileDescription" "Установка ${PRODUCT} ${VERSION}"
VIAddVersionKey /LANG=1049 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1049 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1049 "LegalCopyright" "Copyright 2026 the ${PRODUCT} developers"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\brin2.exe"
!define MUI_FINISHPAGE_RUN_PARAMETERS "--user-dir"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"

; The files the installer puts down, and so the ones the uninstaller takes away.
!macro ProgramFiles what
  !insertmacro ${what} "brin2.exe"
  !insertmacro ${what} "brin-cli.exe"
  !insertmacro ${what} "brin-server.exe"
  !insertmacro ${what} "ping.bat"
  !insertmacro ${what} "README.txt"
!macroend
!macro PutFile name
  File "${STAGE}\${name}"
!macroend
!macro RemoveFile name
  Delete "$INSTDIR\${name}"
!macroend

Section "${PRODUCT}" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  !insertmacro ProgramFiles PutFile
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\brin2.exe" "--user-dir" "$INSTDIR\brin2.exe" 0
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\brin2.exe"
  WriteRegStr HKCU "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoRepair" 1
SectionEnd

; The program writes its own Run entry, the one its --autostart option keeps.
Section /o "Запускать при входе в систему" SecAutostart
  ExecWait '"$INSTDIR\brin2.exe" --user-dir --autostart on'
SectionEnd

Function .onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/AUTOSTART" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecAutostart}
  ${EndIf}
FunctionEnd

Section "Uninstall"
  ; The login start goes only when it is this copy's; a portable copy's stays.
  ReadRegStr $0 HKCU "${RUN_KEY}" "brin2"
  StrLen $1 '"$INSTDIR\brin2.exe"'
  StrCpy $2 $0 $1
  ${If} $2 == '"$INSTDIR\brin2.exe"'
    DeleteRegValue HKCU "${RUN_KEY}" "brin2"
  ${EndIf}
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  !insertmacro ProgramFiles RemoveFile
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"  ; not when the user keeps files of their own there
  DeleteRegKey HKCU "${UNINST_KEY}"
SectionEnd
