#pragma once

// Whether the setup script is out of every non-administrator's reach before
// it is run elevated. Win32 only, free of Qt like the elevated launch.
#include <string>

namespace ScriptSafety {

// Why a user who is not an administrator could change the script at `path`
// (a full native path) or swap the folders it lies in, as the end of one
// sentence ("can be changed by users who are not administrators"); empty
// when only administrators, SYSTEM and TrustedInstaller can. `where` gets the
// file or folder the reason is about.
std::wstring tamperReason(const std::wstring& path, std::wstring* where);

} // namespace ScriptSafety
