; The Windows installer: for all users into Program Files, where only
; administrators may change what the elevated setup step runs. Built on
; Debian by tools/build-installer, which passes STAGE_FILES, STAGE_REMOVALS,
; OUTFILE and VERSION.
Unicode true
; Debian's wine64 runs 64-bit programs only, and the program is 64-bit.
Target amd64-unicode
SetCompressor /SOLID lzma

!include "LogicLib.nsh"
!include "x64.nsh"

!define APP "Tavrin Pellum"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP}"

Name "${APP}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${APP}"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

; No folder page: a folder the user picked may be open to other users, and
; the program would then refuse its setup step.
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
    ${IfNot} ${RunningX64}
        MessageBox MB_ICONSTOP "${APP} needs 64-bit Windows." /SD IDOK
        Abort
    ${EndIf}
    SetRegView 64
FunctionEnd

Section "Install"
    SetShellVarContext all
    !include "${STAGE_FILES}"
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "$SMPROGRAMS\${APP}.lnk" "$INSTDIR\tavrin-pellum.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${APP}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Quorrel Two"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tavrin-pellum.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Function un.onInit
    SetRegView 64
FunctionEnd

Section "Uninstall"
    SetShellVarContext all
    ; Without the script the set-up could never be removed again: offer that first.
    ReadRegStr $0 HKLM "Software\${APP}" "Server"
    ${If} $0 != ""
        MessageBox MB_YESNO|MB_ICONQUESTION "This computer is set up to sync with $0.$\r$\n$\r$\nRemove that set-up first, and put the computer's own time settings back?" /SD IDYES IDNO uninstall
        ExecWait '"$SYSDIR\WindowsPowerShell\v1.0\powershell.exe" -NoProfile -ExecutionPolicy Bypass -File "$INSTDIR\tavrin-pellum.ps1" remove' $1
        ${If} $1 != 0
            MessageBox MB_OKCANCEL|MB_ICONEXCLAMATION "The removal step did not finish (code $1), so the set-up stays.$\r$\n$\r$\nUninstall ${APP} anyway?" /SD IDOK IDOK uninstall
            Abort
        ${EndIf}
    ${EndIf}
uninstall:
    ; Exactly the files the installer put there, then the folders if empty.
    !include "${STAGE_REMOVALS}"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\${APP}.lnk"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
