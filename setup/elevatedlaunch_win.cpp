#include "elevatedlaunch_win.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>

namespace ElevatedLaunch {

namespace {

bool isInput(UINT message)
{
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) || (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST)
        || (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK);
}

// Waits for `process` while the windows still repaint and answer what other
// programs send them (a shutdown's query among them), so that Windows never
// shows them as not responding. Keys and clicks are thrown away: the user
// cannot act until the step has ended. Timers and posted work wait, as they
// would in a plain wait.
void waitRepainting(HANDLE process)
{
    for (;;) {
        // The timeout keeps the queue checked even when nothing arrives.
        const DWORD woke = MsgWaitForMultipleObjects(1, &process, FALSE, 1000, QS_PAINT | QS_INPUT | QS_SENDMESSAGE);
        if (woke == WAIT_OBJECT_0 || woke == WAIT_FAILED)
            return;
        MSG message;
        // Sent messages are answered inside PeekMessage itself.
        while (PeekMessageW(&message, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)
               || PeekMessageW(&message, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE)
               || PeekMessageW(&message, nullptr, WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK, PM_REMOVE)
               || PeekMessageW(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE)) {
            if (!isInput(message.message))
                DispatchMessageW(&message);
        }
    }
}

} // namespace

bool runPowerShellElevated(const std::wstring& parameters, void* owner, unsigned long* exitCode)
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
    // With its window as owner the permission prompt comes to the front
    // instead of waiting as a flashing taskbar button.
    info.hwnd = static_cast<HWND>(owner);
    info.lpVerb = L"runas";
    info.lpFile = shell.c_str();
    info.lpParameters = parameters.c_str();
    info.lpDirectory = nullptr;
    info.nShow = SW_HIDE;

    if (!ShellExecuteExW(&info) || info.hProcess == nullptr)
        return false;

    waitRepainting(info.hProcess);
    DWORD code = 1;
    if (!GetExitCodeProcess(info.hProcess, &code))
        code = 1;
    CloseHandle(info.hProcess);
    if (exitCode)
        *exitCode = code;
    return true;
}

} // namespace ElevatedLaunch
