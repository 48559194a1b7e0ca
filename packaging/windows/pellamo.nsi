; The Windows installer of Pellamo (NSIS 3, built on Linux by tools/package.sh).
;
; Per user, without elevation, into %LOCALAPPDATA%\Programs\Pellamo: the
; program keeps its data in data\ under its working folder and the update
; agent replaces files in that same folder, so both shortcuts (Start menu and
; the Startup folder, which starts the program at logon) start it there.
;
; Installing over an installed version ends the running program, replaces
; the files in place and starts the new program again. The uninstaller ends
; the program and removes its files, shortcuts, autostart and its entry in
; the user's installed programs; the user's data (settings, packets, the log)
; stay in data\, key containers and certificates are not touched.
; /S installs and uninstalls silently.
;
; Defined by the caller: VERSION (1.01.276), NUMERIC_VERSION (1.1.276.0),
; BUILD_DIR (pellamo.exe, upd_qn.dll and the libgcrypt DLLs), OUT_FILE, ICON.

; A 64-bit installer for the 64-bit program (wine64 runs it without wine32).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "WinMessages.nsh"

!define PRODUCT "Pellamo"
!define WINDOW_CLASS "PELLAMO"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Pellamo"

Name "${PRODUCT}"
OutFile "${OUT_FILE}"
InstallDir "$LOCALAPPDATA\Programs\Pellamo"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails nevershow
ShowUninstDetails nevershow

VIProductVersion "${NUMERIC_VERSION}"
VIFileVersion "${NUMERIC_VERSION}"
VIAddVersionKey /LANG=1049 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1049 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1049 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1049 "FileDescription" "Установка Pellamo ${VERSION}"
VIAddVersionKey /LANG=1049 "CompanyName" "Quorin"
VIAddVersionKey /LANG=1049 "LegalCopyright" "Quorin"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_FUNCTION StartProgram

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"

Var WasRunning

; Ends every running program as its tray menu's exit would (WM_CLOSE to its
; hidden main window) and waits until its process has ended, so that its
; files and its instance lock are free; one that does not end within 15 s is
; ended by force. $0 = 1 when one was running.
!macro END_RUNNING_PROGRAM un
Function ${un}EndRunningProgram
  StrCpy $0 0
  StrCpy $2 0
  ${Do}
    FindWindow $1 "${WINDOW_CLASS}"
    ${If} $1 = 0
    ${OrIf} $2 > 5
      ${Break}
    ${EndIf}
    StrCpy $0 1
    IntOp $2 $2 + 1
    System::Call 'user32::GetWindowThreadProcessId(p r1, *i .r4) i'
    System::Call 'kernel32::OpenProcess(i 0x00100000, i 0, i r4) p .r5'
    SendMessage $1 ${WM_CLOSE} 0 0 /TIMEOUT=5000
    StrCpy $6 1
    ${If} $5 != 0
      System::Call 'kernel32::WaitForSingleObject(p r5, i 15000) i .r6'
      System::Call 'kernel32::CloseHandle(p r5)'
    ${EndIf}
    ${If} $6 <> 0
      nsExec::Exec '"$SYSDIR\taskkill.exe" /F /IM pellamo.exe'
      Pop $3
      Sleep 1000
    ${EndIf}
  ${Loop}
FunctionEnd
!macroend
!insertmacro END_RUNNING_PROGRAM ""
!insertmacro END_RUNNING_PROGRAM "un."

; The program starts in its folder, where it keeps data\.
Function StartProgram
  SetOutPath "$INSTDIR"
  Exec '"$INSTDIR\pellamo.exe"'
FunctionEnd

Function .onInit
  SetShellVarContext current
FunctionEnd

Section "Pellamo" SecProgram
  SetShellVarContext current
  Call EndRunningProgram
  StrCpy $WasRunning $0

  SetOutPath "$INSTDIR"
  SetOverwrite on
  File "${BUILD_DIR}\pellamo.exe"
  File "${BUILD_DIR}\upd_qn.dll"
  File "${BUILD_DIR}\libgcrypt-20.dll"
  File "${BUILD_DIR}\libgpg-error-0.dll"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; Shortcuts take the output folder as their working folder.
  SetOutPath "$INSTDIR"
  CreateShortCut "$SMPROGRAMS\Pellamo.lnk" "$INSTDIR\pellamo.exe" "" "$INSTDIR\pellamo.exe" 0
  CreateShortCut "$SMSTARTUP\Pellamo.lnk" "$INSTDIR\pellamo.exe" "" "$INSTDIR\pellamo.exe" 0

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Quorin"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\pellamo.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" 4096

  ; An upgrade puts back the program it ended; a first silent install leaves
  ; the start to the next logon (or the deployment tool).
  ${If} $WasRunning = 1
  ${AndIf} ${Silent}
    Call StartProgram
  ${EndIf}
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  Call un.EndRunningProgram
  Delete "$SMSTARTUP\Pellamo.lnk"
  Delete "$SMPROGRAMS\Pellamo.lnk"
  Delete "$INSTDIR\pellamo.exe"
  Delete "$INSTDIR\upd_qn.dll"
  Delete "$INSTDIR\libgcrypt-20.dll"
  Delete "$INSTDIR\libgpg-error-0.dll"
  ; What the update agent left: new files not yet moved into place and the
  ; previous versions of replaced files.
  Delete "$INSTDIR\*.update-new"
  RMDir /r "$INSTDIR\data\backup"
  Delete "$INSTDIR\uninstall.exe"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ; The user's data stays; the folder goes when nothing else is in it.
  RMDir "$INSTDIR\data\packetin"
  RMDir "$INSTDIR\data\attachment"
  RMDir "$INSTDIR\data"
  RMDir "$INSTDIR"
SectionEnd
