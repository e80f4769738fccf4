#include "scriptsafety_win.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

namespace ScriptSafety {

namespace {

// True when this process already holds full administrator rights (no split
// token, CheckTokenMembership): whatever its user can change, it could run
// as administrator anyway.
bool runsAsAdministrator()
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &admins))
        return false;
    BOOL member = FALSE;
    const bool ok = CheckTokenMembership(nullptr, admins, &member);
    FreeSid(admins);
    return ok && member;
}

bool isCurrentUser(PSID sid)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    alignas(TOKEN_USER) BYTE buffer[256];
    DWORD size = 0;
    const bool same = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size)
        && EqualSid(sid, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
    CloseHandle(token);
    return same;
}

// SYSTEM, Administrators and TrustedInstaller, which own Program Files; and
// this user when the process runs with full administrator rights.
bool isTrusted(PSID sid)
{
    if (isCurrentUser(sid) && runsAsAdministrator())
        return true;
    static const wchar_t* const trusted[] = {
        L"S-1-5-18", L"S-1-5-32-544", L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"};
    for (const wchar_t* text : trusted) {
        PSID known = nullptr;
        if (!ConvertStringSidToSidW(text, &known))
            continue;
        const bool same = EqualSid(sid, known);
        LocalFree(known);
        if (same)
            return true;
    }
    return false;
}

// Rights that change the script itself.
constexpr DWORD kFileRights = FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER
    | GENERIC_WRITE | GENERIC_ALL;
// Rights on the script's folder that put another file in its place.
constexpr DWORD kFolderRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | DELETE | WRITE_DAC
    | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
// Rights on a folder further up that move the script's folder away. Adding
// folders is not one: every user may add a folder to C:\.
constexpr DWORD kAncestorRights = FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;

// The owner and the allowing entries of the object's DACL, as read through
// GetNamedSecurityInfoW (Access Control Lists; ACCESS_ALLOWED_ACE). Deny
// entries are not weighed: refusing once too often is the safe side.
const wchar_t* problem(const std::wstring& path, DWORD rights)
{
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              &owner, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return L"cannot be examined";
    const wchar_t* why = nullptr;
    if (!owner || !isTrusted(owner)) {
        why = L"is owned by a user who is not an administrator";
    } else if (!dacl) {
        why = L"is open to everyone";
    } else {
        for (DWORD i = 0; i < dacl->AceCount && !why; ++i) {
            void* ace = nullptr;
            if (!GetAce(dacl, i, &ace))
                continue;
            const auto* header = static_cast<ACE_HEADER*>(ace);
            if ((header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE)
                || (header->AceFlags & INHERIT_ONLY_ACE))
                continue;
            auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
            if ((allowed->Mask & rights) && !isTrusted(reinterpret_cast<PSID>(&allowed->SidStart)))
                why = L"can be changed by users who are not administrators";
        }
    }
    LocalFree(descriptor);
    return why;
}

} // namespace

std::wstring tamperReason(const std::wstring& path, std::wstring* where)
{
    std::wstring current = path;
    DWORD rights = kFileRights;
    for (;;) {
        if (const wchar_t* why = problem(current, rights)) {
            if (where)
                *where = current;
            return why;
        }
        const std::size_t cut = current.find_last_of(L"\\/");
        if (cut == std::wstring::npos || cut + 1 == current.size())
            return {}; // the drive's root was the last
        const bool isRoot = cut == 2 && current[1] == L':';
        current = isRoot ? current.substr(0, 3) : current.substr(0, cut);
        // A share (\\host\share) is as far up as a path goes.
        if (current.size() <= 2 || (current.rfind(L"\\\\", 0) == 0 && current.find(L'\\', 2) == current.rfind(L'\\')))
            return {};
        rights = rights == kFileRights ? kFolderRights : kAncestorRights;
    }
}

} // namespace ScriptSafety
