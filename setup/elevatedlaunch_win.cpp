#include "elevatedlaunch_win.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>

namespace ElevatedLaunch {

bool runPowerShellElevated(const std::wstring& parameters, unsigned long* exitCode)
{
    SHELLEXECUTEINFOW info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.hwnd = nullptr;
    info.lpVerb = L"runas";
    info.lpFile = L"powershell.exe";
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
