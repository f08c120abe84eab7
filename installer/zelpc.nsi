; ZelPCSetup.exe: installs VornTray and InstallZel, registers VornTray to start at every logon, runs
; InstallZel once and starts VornTray; its uninstaller takes all of that away again.
;
; Packed by installer/pack.
;
; Silent: ZelPCSetup.exe /S [/D=folder]; Uninstall.exe /S [/PURGE] (/PURGE also removes the saved mode).
; Exit codes: 0 done; 2 refused, with the installation as it was; 3 (uninstaller) a file could not be
; removed, and the Run value and the Apps entry stay for the program still on disk.

Unicode true
!if "${ARCH}" == "amd64"
  Target amd64-unicode
!else if "${ARCH}" == "x86"
  Target x86-unicode
!else
  !error "ARCH must be x86 or amd64"
!endif

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WinMessages.nsh
!include Sections.nsh

!getdllversion "${VORNTRAY_EXE}" VERSION_
!define VERSION "${VERSION_1}.${VERSION_2}.${VERSION_3}.${VERSION_4}"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VornZelPC"
!define SETTINGS_KEY "SOFTWARE\Vorn\ZelPC"
!define LOG_FILE "ZelPCSetup.log"
; ZelPC.msi's UpgradeCode, from where the package takes it (setupcalls.dll reads the other facts the
; two share from the same header).
!searchparse /file "${__FILEDIR__}/installfacts.h" '#define ZELPC_UPGRADE_CODE "' MSI_UPGRADE_CODE '"'

Name "Vorn ZelPC Utilities"
OutFile "${OUT_FILE}"
; scripts/sign packs the setup again with a signer, so that the Uninstall.exe it writes is signed
; as well: Apps & features shows the publisher of what it runs.
!ifdef UNINSTALLER_SIGNER
  !uninstfinalize '"${UNINSTALLER_SIGNER}" "%1"' = 0
!endif
RequestExecutionLevel admin
; A file that cannot be written fails the installation instead of being skipped, which a silent
; run would do without a word; the files are checked before the first write (REFUSE_IF_IN_USE).
AllowSkipFiles off
SetCompressor /SOLID lzma
; The installed files get the time of installation: stored times would make the setup depend on
; when the programs were built.
SetDateSave off
ShowInstDetails show
ShowUninstDetails show
BrandingText "Vorn ZelPC ${VERSION}"
; The 64-bit setup is a 64-bit process: $PROGRAMFILES is the 64-bit folder and the registry its view.
InstallDir "$PROGRAMFILES\Vorn\ZelPC"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
; NSIS would otherwise take a drive's root given with /D= for the default folder, silently: the
; folder rule refuses it instead, saying why.
AllowRootDirInstall true

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "Vorn ZelPC Utilities"
VIAddVersionKey /LANG=1033 "CompanyName" "Vorn"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Vorn"
VIAddVersionKey /LANG=1033 "FileDescription" "Vorn ZelPC Utilities Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
; The details stay on screen until the user goes on: they say whether InstallZel ran.
!define MUI_FINISHPAGE_NOAUTOCLOSE
!define MUI_UNFINISHPAGE_NOAUTOCLOSE
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start VornTray now"
!define MUI_FINISHPAGE_RUN_FUNCTION StartVornTray

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!define MUI_COMPONENTSPAGE_TEXT_TOP "VornTray and InstallZel will be removed. The saved panel mode stays for a later installation unless you tick it below."
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Shown in the details and kept in the install folder, where an unattended installation's
; administrator finds it.
!macro APPEND_LINE FILE TEXT
  Push $9
  ClearErrors
  FileOpen $9 "${FILE}" a
  ${IfNot} ${Errors}
    FileSeek $9 0 END
    FileWriteUTF16LE $9 "${TEXT}$\r$\n"
    FileClose $9
  ${EndIf}
  Pop $9
!macroend
!macro LOG_LINE TEXT
  DetailPrint "${TEXT}"
  !insertmacro APPEND_LINE "$INSTDIR\${LOG_FILE}" "${TEXT}"
!macroend
!define Log "!insertmacro LOG_LINE"
; Where a run that leaves the install folder alone, or has removed it, says what it did.
!define TempLog '!insertmacro APPEND_LINE "$TEMP\${LOG_FILE}"'

; The setup's calls into C++ (setupcalls.dll, with the rules the package's actions share), unpacked
; before anything else happens.
!macro UNPACK_SETUPCALLS
  InitPluginsDir
  File "/oname=$PLUGINSDIR\setupcalls.dll" "${SETUPCALLS_DLL}"
!macroend

; Ends every running VornTray the way its own "Exit" would, with the package's rule: WM_CLOSE to its
; window "VORNTRAY", then a wait until the window is gone and its process, which holds VornTray.exe,
; has ended, all of them within ZELPC_CLOSE_WAIT_MS (installfacts.h). Sets the error flag when one
; did not end.
; $VornTraysClosed counts the copies that did end; $CloseReport says what was done.
Var VornTraysClosed
Var CloseReport
!macro CLOSE_VORNTRAY PREFIX
Function ${PREFIX}CloseVornTray
  Push $0
  Push $1
  Push $2
  System::Call '$PLUGINSDIR\setupcalls.dll::CloseVornTray(*i .r1, w .r2, i ${NSIS_MAX_STRLEN}) i .r0'
  StrCpy $VornTraysClosed $1
  StrCpy $CloseReport $2
  DetailPrint "$CloseReport"
  ClearErrors
  ${If} $0 != 1
    SetErrors
  ${EndIf}
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro CLOSE_VORNTRAY ""
!insertmacro CLOSE_VORNTRAY "un."

; Pushes the Windows error that keeps the file named on the stack from being opened for writing
; and deleting, or 0 when it can be or does not exist. Every sharing is allowed, so only another
; process's handle that shares less refuses it: another user's VornTray, a scanner.
!macro FILE_IN_USE PREFIX
Function ${PREFIX}FileInUse
  Exch $0
  Push $1
  Push $2
  StrCpy $2 0
  ${If} ${FileExists} "$0"
    ; GENERIC_WRITE | DELETE; FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE; OPEN_EXISTING
    System::Call 'kernel32::CreateFileW(w r0, i 0x40010000, i 7, p 0, i 3, i 0, p 0) p .r1 ? e'
    Pop $2
    ${If} $1 P<> -1
      System::Call 'kernel32::CloseHandle(p r1)'
      StrCpy $2 0
    ${EndIf}
  ${EndIf}
  StrCpy $0 $2
  Pop $2
  Pop $1
  Exch $0
FunctionEnd
!macroend
!insertmacro FILE_IN_USE ""
!insertmacro FILE_IN_USE "un."

; Deletes $INSTDIR\NAME and adds its name to $1 when it is still there.
!macro REMOVE_FILE NAME
  Delete "$INSTDIR\${NAME}"
  ${If} ${FileExists} "$INSTDIR\${NAME}"
    StrCpy $1 "$1 $INSTDIR\${NAME}"
  ${EndIf}
!macroend

; Refuses, through the Fail function of PREFIX, when a file of the installation is held by
; another process; checked before the first write, so that the installation stays as it was.
!macro REFUSE_IF_IN_USE PREFIX NAME
  Push "$INSTDIR\${NAME}"
  Call ${PREFIX}FileInUse
  Pop $0
  ${If} $0 <> 0
    Push "$INSTDIR\${NAME} is in use by another program (error $0). Close it, or restart Windows, and run setup again."
    Call ${PREFIX}Fail
  ${EndIf}
!macroend
!macro REFUSE_IF_ANY_IN_USE PREFIX
  !insertmacro REFUSE_IF_IN_USE "${PREFIX}" "VornTray.exe"
  !insertmacro REFUSE_IF_IN_USE "${PREFIX}" "InstallZel.exe"
  !insertmacro REFUSE_IF_IN_USE "${PREFIX}" "Uninstall.exe"
  !insertmacro REFUSE_IF_IN_USE "${PREFIX}" "${LOG_FILE}"
!macroend

; The Vorn folder above the default install folder, once empty; above a folder the user chose,
; the parent is the user's own.
!macro REMOVE_VORN_FOLDER PREFIX
Function ${PREFIX}RemoveVornFolder
  ${If} "$INSTDIR" == "$PROGRAMFILES\Vorn\ZelPC"
    RMDir "$PROGRAMFILES\Vorn"
  ${EndIf}
FunctionEnd
!macroend
!insertmacro REMOVE_VORN_FOLDER ""
!insertmacro REMOVE_VORN_FOLDER "un."

; As the logged-on user: an installer elevated by UAC holds a full administrator token, and a
; program it starts itself would inherit it. The shell runs with the user's own token and starts
; what explorer.exe is given. Without UAC elevation the user's token is the setup's own.
; Run as SYSTEM or in session 0, as deployment tools run it, setup has no user's desktop: a
; VornTray started there would be a SYSTEM program on a desktop without a shell, holding its file
; until the machine restarts, out of reach of every later installation. It is left to the Run value.
!macro START_VORNTRAY PREFIX
Function ${PREFIX}StartVornTray
  System::Call '$PLUGINSDIR\setupcalls.dll::WithoutUserDesktop() i .r0'
  ${If} $0 = 1
    ${Log} "VornTray not started: setup runs as SYSTEM or in session 0. It starts at the next logon."
    Return
  ${EndIf}
  ; TOKEN_QUERY; TokenElevationType = 18, TokenElevationTypeFull = 2
  System::Call 'advapi32::OpenProcessToken(p -1, i 0x8, *p .r1) i .r0'
  StrCpy $2 0
  ${If} $0 <> 0
    System::Call 'advapi32::GetTokenInformation(p r1, i 18, *i .r2, i 4, *i .r3)'
    System::Call 'kernel32::CloseHandle(p r1)'
  ${EndIf}
  ${If} $2 = 2
    Exec '"$WINDIR\explorer.exe" "$INSTDIR\VornTray.exe"'
  ${Else}
    Exec '"$INSTDIR\VornTray.exe"'
  ${EndIf}
FunctionEnd
!macroend
!insertmacro START_VORNTRAY ""
!insertmacro START_VORNTRAY "un."


; Refuses the installation or the uninstallation with the reason on the stack. Either leaves the
; installation as it was, so a VornTray that was closed on the way is started again.
!macro FAIL PREFIX
Function ${PREFIX}Fail
  Exch $0
  DetailPrint "$0"
  ; A refused setup leaves the folder alone: an unattended run's reason is kept in TEMP instead.
  ${TempLog} "Refused: $0"
  MessageBox MB_OK|MB_ICONSTOP "$0" /SD IDOK
  SetErrorLevel 2
  Pop $0
  ${If} $VornTraysClosed > 0
  ${AndIf} ${FileExists} "$INSTDIR\VornTray.exe"
    Call ${PREFIX}StartVornTray
  ${EndIf}
  Abort
FunctionEnd
!macroend

!insertmacro FAIL ""
!insertmacro FAIL "un."

; An installation of ZelPC.msi belongs to Windows Installer: setup over it would leave two owners
; of the same files, each undoing the other. Refused before anything changes.
Function RefuseBesidePackage
  System::Call 'msi::MsiEnumRelatedProductsW(w "{${MSI_UPGRADE_CODE}}", i 0, i 0, w .r1) i .r0'
  ${If} $0 = 0
    MessageBox MB_OK|MB_ICONSTOP "Vorn ZelPC Utilities is installed on this computer from ZelPC.msi. Remove it in Apps & features (or with msiexec /x) first, then run setup again." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
FunctionEnd

Function .onInit
  Call RefuseBesidePackage
FunctionEnd

Section "VornTray and InstallZel" SecMain
  SectionIn RO
  ; Nothing is written before this point, so that a refused installation leaves nothing behind.
  ; A running VornTray holds its file; an upgrade closes it and starts the new one at the end.
  !insertmacro UNPACK_SETUPCALLS
  Call CloseVornTray
  ${If} ${Errors}
    Push "VornTray is still running and cannot be replaced. Close it and run setup again."
    Call Fail
  ${EndIf}
  !insertmacro REFUSE_IF_ANY_IN_USE ""

  ; The folder is decided and made ready by setupcalls.dll, with the rule the package uses too:
  ; inside Program Files as it is; elsewhere only a new or empty folder, or the one setup installed
  ; into before, whose parents only administrators may change, then protected. Refused, nothing
  ; has been written.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  System::Call '$PLUGINSDIR\setupcalls.dll::PrepareInstallFolder(w "$INSTDIR", w r0, w .r1, i ${NSIS_MAX_STRLEN}) i .r2'
  ${If} $2 != 1
    ${If} $2 != 0
      StrCpy $1 "Setup cannot check the folder $INSTDIR: setupcalls.dll answered $2."
    ${EndIf}
    Push $1
    Call Fail
  ${EndIf}
  ClearErrors
  FileOpen $0 "$INSTDIR\${LOG_FILE}" w
  ${If} ${Errors}
    RMDir "$INSTDIR"
    Push "Setup cannot write to the folder $INSTDIR."
    Call Fail
  ${EndIf}
  FileClose $0
  ${Log} "Vorn ZelPC ${VERSION} into $INSTDIR"
  ${If} $CloseReport != ""
    ${Log} "$CloseReport"
  ${EndIf}
  ${Log} "$1"

  ClearErrors
  WriteRegStr HKLM "${RUN_KEY}" "VornTray" '"$INSTDIR\VornTray.exe"'
  ${If} ${Errors}
    Delete "$INSTDIR\${LOG_FILE}"
    RMDir "$INSTDIR"
    Call RemoveVornFolder
    Push "Setup cannot register VornTray to start at logon (HKLM\${RUN_KEY})."
    Call Fail
  ${EndIf}

  SetOutPath "$INSTDIR"
  File "${VORNTRAY_EXE}"
  File "${INSTALLZEL_EXE}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Vorn ZelPC Utilities"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Vorn"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\VornTray.exe,0"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

  ; Nobody can answer InstallZel's message box in a silent installation: without a server within
  ; InstallZel's own wait, setup skips it rather than hang. InstallZel's run is bounded as the
  ; package's is.
  ${If} ${Silent}
    StrCpy $1 1
  ${Else}
    StrCpy $1 0
  ${EndIf}
  System::Call '$PLUGINSDIR\setupcalls.dll::RunInstallZel(w "$INSTDIR", i r1, w .r0, i ${NSIS_MAX_STRLEN})'
  ${Log} "$0"
  ${Log} "Installed"
SectionEnd

Function .onInstSuccess
  ${If} ${Silent}
    Call StartVornTray
  ${EndIf}
FunctionEnd

Section "un.VornTray and InstallZel" SecUnMain
  SectionIn RO
  !insertmacro UNPACK_SETUPCALLS
  Call un.CloseVornTray
  ${If} ${Errors}
    Push "VornTray is still running. Close it and run the uninstaller again."
    Call un.Fail
  ${EndIf}
  !insertmacro REFUSE_IF_ANY_IN_USE "un."
  ; The files first: the Run value and the Apps entry go only once the program they name is gone,
  ; so that a file that could not be removed can still be found, and its uninstaller run again.
  StrCpy $1 ""
  !insertmacro REMOVE_FILE "VornTray.exe"
  !insertmacro REMOVE_FILE "InstallZel.exe"
  !insertmacro REMOVE_FILE "Uninstall.exe"
  ${If} $1 != ""
    ${Log} "Not removed:$1. The Run value and the Apps entry stay; restart Windows and uninstall again."
    SetErrorLevel 3
    Return
  ${EndIf}
  ; Only what setup made: another program's files or values stay.
  ReadRegStr $0 HKLM "${RUN_KEY}" "VornTray"
  ${If} $0 == '"$INSTDIR\VornTray.exe"'
    DeleteRegValue HKLM "${RUN_KEY}" "VornTray"
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  Delete "$INSTDIR\${LOG_FILE}"
  RMDir "$INSTDIR"
  Call un.RemoveVornFolder
SectionEnd

; Also every loaded user's copy of it that registry virtualization made; what was removed is kept in
; TEMP\ZelPCSetup.log, as the install folder is gone by now.
Section /o "un.Saved panel mode" SecUnPurge
  System::Call '$PLUGINSDIR\setupcalls.dll::PurgeSavedModes(w .r0, i ${NSIS_MAX_STRLEN})'
  DetailPrint "$0"
  ${TempLog} "Purged: $0"
SectionEnd

!insertmacro MUI_UNFUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecUnMain} "The programs, the logon start and the Apps entry."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecUnPurge} "The panel mode VornTray saved (HKLM\${SETTINGS_KEY}), and the copy each logged-on user's VornTray keeps in that user's registry."
!insertmacro MUI_UNFUNCTION_DESCRIPTION_END

Function un.onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/PURGE" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecUnPurge}
  ${EndIf}
FunctionEnd
