#include "elevatedlaunch_win.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>

namespace ElevatedLaunch {

bool runPowerShellElevated(const std::wstring& parameters, unsigned long* exitCode)
{
    // By its full path in the system folder (GetSystemDirectoryW), never
    // through the search path, where a planted powershell.exe could stand.
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    const std::wstring shell = std::wstring(system, length) + L"\\WindowsPowerShell\\v1.0\\powershell.exe";

    SHELLEXECUTEINFOW info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.hwnd = nullptr;
    info.lpVerb = L"runas";
    info.lpFile = shell.c_str();
    info.lpParameters = parameters.c_str();
    info.lpDirectory = nullptr;
    info.nShow = SW_HIDE;

    if (!ShellExecuteExW(&info) || info.hProcess == nullptr)
        return false;

    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 1;
    if (!GetExitCodeProcess(info.hProcess, &code))
        code = 1;
    CloseHandle(info.hProcess);
    if (exitCode)
        *exitCode = code;
    return true;
}

} // namespace ElevatedLaunch
