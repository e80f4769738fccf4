; The Windows installer: for all users into Program Files, where only
; administrators may change what the elevated setup step runs. Built on
; Debian by tools/build-installer, which passes STAGE_FILES, FILE_LIST,
; OUTFILE, VERSION and SIZE_KB.
Unicode true
; Debian's wine64 runs 64-bit programs only, and the program is 64-bit.
Target amd64-unicode
SetCompressor /SOLID lzma

!include "LogicLib.nsh"
!include "x64.nsh"

!define APP "Tavrin Pellum"
!define EXE "tavrin-pellum.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP}"
; What an installed version put into its folder, one line a file ("F name")
; and then its folders deepest first ("D name"): an upgrade and the
; uninstaller remove exactly that, also files a later version no longer has.
!define RECORD "installed-files.txt"
; Exit codes besides NSIS's own (1 cancelled, 2 aborted).
!define EXIT_RUNNING 3
!define EXIT_NOT_REMOVED 4

Name "${APP}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${APP}"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show
; A file that cannot be written fails the install (silently too) instead of
; being skipped into a mix of two versions.
AllowSkipFiles off

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "${APP}"
VIAddVersionKey /LANG=0 "CompanyName" "Quorrel Two"
VIAddVersionKey /LANG=0 "FileDescription" "${APP} setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "Quorrel Two"

; No folder page: a folder the user picked may be open to other users, and
; the program would then refuse its setup step.
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; Windows keeps a running exe from being written, whoever runs it: while the
; program runs in any session, nothing is changed; the user is told to quit
; it, and a silent run ends with EXIT_RUNNING.
!macro STOP_WHILE_RUNNING WHAT
    ${Do}
        ClearErrors
        ${IfNot} ${FileExists} "$INSTDIR\${EXE}"
            ${Break}
        ${EndIf}
        FileOpen $0 "$INSTDIR\${EXE}" a
        ${IfNot} ${Errors}
            FileClose $0
            ${Break}
        ${EndIf}
        ${IfNot} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${APP} is running, for you or for another user of this computer, so it cannot be ${WHAT}.$\r$\n$\r$\nQuit it wherever it runs (Quit ${APP} in its tray menu), then choose Retry." /SD IDCANCEL IDRETRY`
            SetErrorLevel ${EXIT_RUNNING}
            Quit
        ${EndIf}
    ${Loop}
!macroend

; Removes what the installed version recorded. $R9 gets the first file that
; could not be removed, empty when all went.
!macro REMOVE_RECORDED
    StrCpy $R9 ""
    ClearErrors
    FileOpen $R0 "$INSTDIR\${RECORD}" r
    ${IfNot} ${Errors}
        ${Do}
            ClearErrors
            FileRead $R0 $R1
            ${If} ${Errors}
                ${Break}
            ${EndIf}
            ${Do}
                StrCpy $R2 $R1 1 -1
                ${If} $R2 == "$\r"
                ${OrIf} $R2 == "$\n"
                    StrCpy $R1 $R1 -1
                ${Else}
                    ${Break}
                ${EndIf}
            ${Loop}
            StrCpy $R2 $R1 2
            StrCpy $R1 $R1 "" 2
            ; Names inside the folder only: the builder writes no others.
            StrCpy $R3 $R1 1
            ${If} $R1 == ""
            ${OrIf} $R3 == "\"
                ${Continue}
            ${EndIf}
            ${If} $R2 == "F "
                ClearErrors
                Delete "$INSTDIR\$R1"
                ${If} ${Errors}
                ${AndIf} $R9 == ""
                    StrCpy $R9 "$INSTDIR\$R1"
                ${EndIf}
            ${ElseIf} $R2 == "D "
                RMDir "$INSTDIR\$R1"
            ${EndIf}
        ${Loop}
        FileClose $R0
        ; Kept while something is left, so that a later run can finish.
        ${If} $R9 == ""
            Delete "$INSTDIR\${RECORD}"
        ${EndIf}
    ${EndIf}
!macroend

Function .onInit
    ${IfNot} ${RunningX64}
        MessageBox MB_ICONSTOP "${APP} needs 64-bit Windows." /SD IDOK
        Abort
    ${EndIf}
    SetRegView 64
    ; Program Files, always: /D= on the command line is not followed.
    StrCpy $INSTDIR "$PROGRAMFILES64\${APP}"
    !insertmacro STOP_WHILE_RUNNING "updated"
FunctionEnd

Section "Install"
    SetShellVarContext all
    !insertmacro REMOVE_RECORDED
    ${If} $R9 != ""
        MessageBox MB_ICONSTOP "$R9 could not be replaced, so ${APP} was not installed. Quit ${APP} wherever it runs and run the installer again." /SD IDOK
        SetErrorLevel ${EXIT_NOT_REMOVED}
        Abort
    ${EndIf}
    !include "${STAGE_FILES}"
    SetOutPath "$INSTDIR"
    File "/oname=${RECORD}" "${FILE_LIST}"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "$SMPROGRAMS\${APP}.lnk" "$INSTDIR\${EXE}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${APP}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Quorrel Two"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${EXE}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Function un.onInit
    SetRegView 64
    !insertmacro STOP_WHILE_RUNNING "removed"
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
    !insertmacro REMOVE_RECORDED
    ${If} $R9 != ""
        MessageBox MB_ICONSTOP "$R9 could not be removed, so ${APP} is not fully uninstalled. Quit ${APP} wherever it runs and uninstall again." /SD IDOK
        SetErrorLevel ${EXIT_NOT_REMOVED}
        Abort
    ${EndIf}
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\${APP}.lnk"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
