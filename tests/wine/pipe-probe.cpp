// A client of the program's instance pipe that is not a second launch:
//   pipe-probe read          opens the pipe for reading only, sends nothing
//   pipe-probe send <text>   sends <text> ("\n" for a line feed) and closes
// The pipe is this user's: its name ends in the user's SID. Exit 0 when the
// pipe was opened, 2 when it was not there.
#include <windows.h>
#include <sddl.h>

#include <cwchar>
#include <cwctype>
#include <string>

namespace {
std::wstring pipeName()
{
    HANDLE token = nullptr;
    std::wstring sid;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        alignas(TOKEN_USER) BYTE buffer[256];
        DWORD size = 0;
        wchar_t* text = nullptr;
        if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size)
            && ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text)) {
            sid = text;
            LocalFree(text);
        }
        CloseHandle(token);
    }
    for (wchar_t& c : sid)
        c = towlower(c);
    return L"\\\\.\\pipe\\com.tavrin.pellum.app.instance." + sid;
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    const bool send = argc == 3 && std::wcscmp(argv[1], L"send") == 0;
    if (!send && !(argc == 2 && std::wcscmp(argv[1], L"read") == 0))
        return 1;
    HANDLE pipe = CreateFileW(pipeName().c_str(), send ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE)
        return 2;
    if (send) {
        std::string bytes;
        for (const wchar_t* c = argv[2]; *c; ++c) {
            if (c[0] == L'\\' && c[1] == L'n') {
                bytes += '\n';
                ++c;
            } else {
                bytes += char(*c);
            }
        }
        DWORD written = 0;
        WriteFile(pipe, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    }
    // Long enough for the instance to see the connection and what came.
    Sleep(1000);
    CloseHandle(pipe);
    return 0;
}
