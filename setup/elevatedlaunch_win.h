#pragma once

// Win32 half of the privileged runner, kept free of Qt so it can be checked
// with a cross compiler on its own.
#include <string>

namespace ElevatedLaunch {

// Starts the system folder's powershell.exe through the shell with the "runas" verb, hidden, with
// `parameters` as its command line, and waits for it without a limit while the
// windows repaint and user input is discarded. `owner` (an HWND, may be null)
// is the window the permission prompt belongs to.
// Returns false when the launch failed or gave no process (prompt declined);
// otherwise *exitCode holds the exit code (1 when it could not be read).
bool runPowerShellElevated(const std::wstring& parameters, void* owner, unsigned long* exitCode);

} // namespace ElevatedLaunch
