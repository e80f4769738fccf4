#include "scriptsafety_win.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cwctype>

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

// The owner and the allowing entries of the object's DACL (Access Control
// Lists; ACCESS_ALLOWED_ACE). Deny entries are not weighed: refusing once too
// often is the safe side.
const wchar_t* problem(const Source& source, const std::wstring& path, DWORD rights)
{
    PSECURITY_DESCRIPTOR descriptor = source.securityDescriptor(path);
    if (!descriptor)
        return L"cannot be examined";
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    const wchar_t* why = nullptr;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted)
        || !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
        why = L"cannot be examined";
    } else if (!owner || !isTrusted(owner)) {
        why = L"is owned by a user who is not an administrator";
    } else if (!present || !dacl) {
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

bool startsWith(const std::wstring& text, const wchar_t* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

// "C:\..." on a drive the elevated process sees as this computer's own disk.
// A share (\\server\share) is judged by the server's administrators, not
// ours, and a mapped drive letter does not exist for the elevated process.
bool onLocalFixedDrive(const Source& source, const std::wstring& path)
{
    const bool lettered = path.size() >= 3 && iswalpha(path[0]) && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
    return lettered && source.driveType(path.substr(0, 2) + L"\\") == DRIVE_FIXED;
}

class SystemSource : public Source {
public:
    explicit SystemSource(HANDLE file) : file(file) {}

    std::wstring finalPath(const std::wstring&) const override
    {
        std::wstring buffer(32768, L'\0');
        const DWORD length = GetFinalPathNameByHandleW(file, buffer.data(), DWORD(buffer.size()),
                                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        buffer.resize(length > 0 && length < buffer.size() ? length : 0);
        return buffer;
    }
    unsigned driveType(const std::wstring& root) const override { return GetDriveTypeW(root.c_str()); }
    void* securityDescriptor(const std::wstring& path) const override
    {
        PSID owner = nullptr;
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                  &owner, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
            return nullptr;
        return descriptor;
    }

private:
    HANDLE file;
};

} // namespace

std::wstring tamperReason(const std::wstring& path, std::wstring* where, const Source& source)
{
    const auto refuse = [where](const std::wstring& at, const wchar_t* why) {
        if (where)
            *where = at;
        return std::wstring(why);
    };
    if (!onLocalFixedDrive(source, path))
        return refuse(path, L"is not on a local fixed drive");
    // Junctions and links resolved: the folders that matter are those the
    // file really lies in.
    std::wstring current = source.finalPath(path);
    if (current.empty())
        return refuse(path, L"cannot be examined");
    if (startsWith(current, L"\\\\?\\UNC\\"))
        return refuse(L"\\\\" + current.substr(8), L"is not on a local fixed drive");
    if (startsWith(current, L"\\\\?\\"))
        current.erase(0, 4);
    if (!onLocalFixedDrive(source, current))
        return refuse(current, L"is not on a local fixed drive");
    DWORD rights = kFileRights;
    for (;;) {
        if (const wchar_t* why = problem(source, current, rights))
            return refuse(current, why);
        const std::size_t cut = current.find_last_of(L"\\/");
        if (cut == std::wstring::npos || cut + 1 == current.size())
            return {}; // the drive's root was the last
        current = cut == 2 ? current.substr(0, 3) : current.substr(0, cut);
        rights = rights == kFileRights ? kFolderRights : kAncestorRights;
    }
}

ScriptHold::ScriptHold(const std::wstring& path)
{
    // Others may read the script, but neither write, rename nor delete it.
    handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
}

ScriptHold::~ScriptHold()
{
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
}

bool ScriptHold::held() const
{
    return handle != INVALID_HANDLE_VALUE;
}

std::wstring ScriptHold::check(const std::wstring& path, std::wstring* where, std::wstring* finalPath) const
{
    if (!held()) {
        if (where)
            *where = path;
        return L"cannot be held open against changes";
    }
    const SystemSource source(handle);
    std::wstring reason = tamperReason(path, where, source);
    if (reason.empty() && finalPath) {
        *finalPath = source.finalPath(path);
        if (startsWith(*finalPath, L"\\\\?\\"))
            finalPath->erase(0, 4);
    }
    return reason;
}

} // namespace ScriptSafety
