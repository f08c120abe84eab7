; ZelPCSetup.exe: installs VornTray and InstallZel, registers VornTray to start at every logon, runs
; InstallZel once and starts VornTray; its uninstaller takes all of that away again.
;
; Packed by installer/pack.
;
; Silent: ZelPCSetup.exe /S [/D=folder]; Uninstall.exe /S [/PURGE] (/PURGE also removes the saved mode).

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
!define SERVER_CLASS "VORN ACPI SERVER CLASS"
; InstallZel's own wait for the server, 50 look-ups 200 ms apart.
!define SERVER_WAIT_TRIES 50
!define SERVER_WAIT_MS 200
; How long a closed VornTray may take to end before setup gives up.
!define CLOSE_WAIT_MS 10000
!define LOG_FILE "ZelPCSetup.log"
; ZelPC.msi's UpgradeCode (installer/zelpc.wxs), fixed for ever.
!define MSI_UPGRADE_CODE "{8C1F3A6E-5B2D-4F7A-9E4C-2D6B8A1F0C35}"

Name "Vorn ZelPC Utilities"
OutFile "${OUT_FILE}"
; scripts/sign packs the setup again with a signer, so that the Uninstall.exe it writes is signed
; as well: Apps & features shows the publisher of what it runs.
!ifdef UNINSTALLER_SIGNER
  !uninstfinalize '"${UNINSTALLER_SIGNER}" "%1"' = 0
!endif
RequestExecutionLevel admin
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
!macro LOG_LINE TEXT
  DetailPrint "${TEXT}"
  Push $9
  ClearErrors
  FileOpen $9 "$INSTDIR\${LOG_FILE}" a
  ${IfNot} ${Errors}
    FileSeek $9 0 END
    FileWriteUTF16LE $9 "${TEXT}$\r$\n"
    FileClose $9
  ${EndIf}
  Pop $9
!macroend
!define Log "!insertmacro LOG_LINE"

; Ends every running VornTray the way its own "Exit" would: WM_CLOSE to its window "VORNTRAY",
; then a wait until the window is gone and its process, which holds VornTray.exe, has ended. The
; whole closing has CLOSE_WAIT_MS: a window that stays (it ignores WM_CLOSE, or belongs to some
; other program) or a process that does not end sets the error flag, however many windows there are.
; $VornTraysClosed counts the copies that did end.
Var VornTraysClosed
!macro CLOSE_VORNTRAY PREFIX
Function ${PREFIX}CloseVornTray
  ; $0 window, $1 its process id, $2 the process handle, $3 a call's result, $4 the deadline,
  ; $5 the time left
  Push $0
  Push $1
  Push $2
  Push $3
  Push $4
  Push $5
  StrCpy $VornTraysClosed 0
  System::Call 'kernel32::GetTickCount() i .r4'
  IntOp $4 $4 + ${CLOSE_WAIT_MS}
  ClearErrors
  ${Do}
    FindWindow $0 "VORNTRAY"
    ${If} $0 = 0
      ${Break}
    ${EndIf}
    ; A window still found once the time is up ends the closing, however many came and went.
    System::Call 'kernel32::GetTickCount() i .r5'
    IntOp $5 $4 - $5
    ${If} $5 <= 0
      DetailPrint "VornTray did not end within ${CLOSE_WAIT_MS} ms"
      SetErrors
      ${Break}
    ${EndIf}
    System::Call 'user32::GetWindowThreadProcessId(p r0, *i .r1)'
    ; SYNCHRONIZE. The process may be one setup cannot open: then the window alone tells.
    System::Call 'kernel32::OpenProcess(i 0x00100000, i 0, i r1) p .r2'
    DetailPrint "Closing VornTray (process $1)"
    System::Call 'user32::PostMessage(p r0, i ${WM_CLOSE}, p 0, p 0)'
    ${Do}
      System::Call 'user32::IsWindow(p r0) i .r3'
      System::Call 'kernel32::GetTickCount() i .r5'
      IntOp $5 $4 - $5
      ${If} $3 = 0
      ${OrIf} $5 <= 0
        ${Break}
      ${EndIf}
      Sleep 100
    ${Loop}
    StrCpy $3 0
    ${If} $2 P<> 0
      ${If} $5 < 0
        StrCpy $5 0
      ${EndIf}
      System::Call 'kernel32::WaitForSingleObject(p r2, i r5) i .r3'
      System::Call 'kernel32::CloseHandle(p r2)'
    ${EndIf}
    ; Still there after the wait: WAIT_OBJECT_0 is 0.
    System::Call 'user32::IsWindow(p r0) i .r5'
    ${If} $5 <> 0
    ${OrIf} $3 <> 0
      DetailPrint "VornTray did not end within ${CLOSE_WAIT_MS} ms"
      SetErrors
      ${Break}
    ${EndIf}
    IntOp $VornTraysClosed $VornTraysClosed + 1
  ${Loop}
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro CLOSE_VORNTRAY ""
!insertmacro CLOSE_VORNTRAY "un."

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

; Refuses the installation with the reason on the stack. A refused upgrade leaves the installation
; as it was, so a VornTray that setup closed on the way is started again.
Function Fail
  Exch $0
  DetailPrint "$0"
  ; A refused setup leaves the folder alone: an unattended run's reason is kept in TEMP instead.
  Push $1
  ClearErrors
  FileOpen $1 "$TEMP\${LOG_FILE}" a
  ${IfNot} ${Errors}
    FileSeek $1 0 END
    FileWriteUTF16LE $1 "Refused: $0$\r$\n"
    FileClose $1
  ${EndIf}
  Pop $1
  MessageBox MB_OK|MB_ICONSTOP "$0" /SD IDOK
  SetErrorLevel 2
  Pop $0
  ${If} $VornTraysClosed > 0
  ${AndIf} ${FileExists} "$INSTDIR\VornTray.exe"
    Call StartVornTray
  ${EndIf}
  Abort
FunctionEnd

; An installation of ZelPC.msi belongs to Windows Installer: setup over it would leave two owners
; of the same files, each undoing the other. Refused before anything changes.
Function RefuseBesidePackage
  System::Call 'msi::MsiEnumRelatedProductsW(w "${MSI_UPGRADE_CODE}", i 0, i 0, w .r1) i .r0'
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
  Call CloseVornTray
  ${If} ${Errors}
    Push "VornTray is still running and cannot be replaced. Close it and run setup again."
    Call Fail
  ${EndIf}

  ; The folder is decided and made ready by setupcalls.dll, with the rule the package uses too:
  ; inside Program Files as it is; elsewhere only a new or empty folder, or the one setup installed
  ; into before, whose parents only administrators may change, then protected. Refused, nothing
  ; has been written.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  InitPluginsDir
  File "/oname=$PLUGINSDIR\setupcalls.dll" "${SETUPCALLS_DLL}"
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
  ; InstallZel's own wait, setup skips it rather than hang.
  ${If} ${Silent}
    StrCpy $1 0
    ${Do}
      FindWindow $0 "${SERVER_CLASS}"
      ${If} $0 <> 0
        ${Break}
      ${EndIf}
      IntOp $1 $1 + 1
      ${If} $1 >= ${SERVER_WAIT_TRIES}
        ${Break}
      ${EndIf}
      Sleep ${SERVER_WAIT_MS}
    ${Loop}
  ${Else}
    StrCpy $0 1
  ${EndIf}
  ${If} $0 = 0
    ${Log} "InstallZel skipped: no ACPI server window within 10 s. Install the Vorn ACPI server, then run $INSTDIR\InstallZel.exe once."
  ${Else}
    ${Log} "Running InstallZel"
    ExecWait '"$INSTDIR\InstallZel.exe"'
  ${EndIf}
  ${Log} "Installed"
SectionEnd

; As the logged-on user: an installer elevated by UAC holds a full administrator token, and a
; program it starts itself would inherit it. The shell runs with the user's own token and starts
; what explorer.exe is given. Without UAC elevation the user's token is the setup's own.
Function StartVornTray
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

Function .onInstSuccess
  ${If} ${Silent}
    Call StartVornTray
  ${EndIf}
FunctionEnd

Section "un.VornTray and InstallZel" SecUnMain
  SectionIn RO
  Call un.CloseVornTray
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONSTOP "VornTray is still running. Close it and run the uninstaller again." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  ; Only what setup made: another program's files or values stay.
  ReadRegStr $0 HKLM "${RUN_KEY}" "VornTray"
  ${If} $0 == '"$INSTDIR\VornTray.exe"'
    DeleteRegValue HKLM "${RUN_KEY}" "VornTray"
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  Delete "$INSTDIR\VornTray.exe"
  Delete "$INSTDIR\InstallZel.exe"
  Delete "$INSTDIR\${LOG_FILE}"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  Call un.RemoveVornFolder
SectionEnd

Section /o "un.Saved panel mode" SecUnPurge
  DeleteRegValue HKLM "${SETTINGS_KEY}" "DispWidth"
  DeleteRegValue HKLM "${SETTINGS_KEY}" "DispHeight"
  DeleteRegKey /ifempty HKLM "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKLM "SOFTWARE\Vorn"
SectionEnd

!insertmacro MUI_UNFUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecUnMain} "The programs, the logon start and the Apps entry."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecUnPurge} "The panel mode VornTray saved (HKLM\${SETTINGS_KEY})."
!insertmacro MUI_UNFUNCTION_DESCRIPTION_END

Function un.onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/PURGE" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecUnPurge}
  ${EndIf}
FunctionEnd
