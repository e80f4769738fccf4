#pragma once

// Whether the setup script is out of every non-administrator's reach before
// it is run elevated. Win32 only, free of Qt like the elevated launch.
#include <string>

namespace ScriptSafety {

// What the path rules weigh: Windows itself, or a test's stand-in.
class Source {
public:
    virtual ~Source() = default;
    // The path as Windows resolves it, links, junctions and mapped drives
    // included, as GetFinalPathNameByHandleW gives it ("\\?\C:\...",
    // "\\?\UNC\server\share\..."); empty when it cannot be had.
    virtual std::wstring finalPath(const std::wstring& path) const = 0;
    // GetDriveTypeW of a root such as "C:\".
    virtual unsigned driveType(const std::wstring& root) const = 0;
    // The owner and DACL of a file or folder as a security descriptor that
    // the caller frees with LocalFree; null when it cannot be read.
    virtual void* securityDescriptor(const std::wstring& path) const = 0;
};

// Why a user who is not an administrator could change the script at `path`
// (a full native path) or swap the folders it really lies in, as the end of
// one sentence ("can be changed by users who are not administrators", "is
// not on a local fixed drive"); empty when only administrators, SYSTEM and
// TrustedInstaller can. `where` gets the file or folder the reason is about.
std::wstring tamperReason(const std::wstring& path, std::wstring* where, const Source& source);

// The script held open from its check until the elevated step has ended, so
// that what was checked is what runs.
class ScriptHold {
public:
    explicit ScriptHold(const std::wstring& path);
    ~ScriptHold();
    ScriptHold(const ScriptHold&) = delete;
    ScriptHold& operator=(const ScriptHold&) = delete;

    bool held() const;
    // tamperReason() of the held file; when empty, `finalPath` gets the path
    // it really has, for the elevated step to read it by.
    std::wstring check(const std::wstring& path, std::wstring* where, std::wstring* finalPath) const;

private:
    void* handle;
};

} // namespace ScriptSafety
