// A client of the instance pipe that is not a second launch:
//   pipe-probe <name> read          opens the pipe for reading only, sends nothing
//   pipe-probe <name> send <text>   sends <text> ("\n" for a line feed) and closes
// Exit 0 when the pipe was opened, 2 when it was not there.
#include <windows.h>

#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    const bool send = argc == 4 && std::wcscmp(argv[2], L"send") == 0;
    if (!send && !(argc == 3 && std::wcscmp(argv[2], L"read") == 0))
        return 1;
    const std::wstring name = std::wstring(L"\\\\.\\pipe\\") + argv[1];
    HANDLE pipe = CreateFileW(name.c_str(), send ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE)
        return 2;
    std::string bytes;
    for (const wchar_t* c = send ? argv[3] : L""; *c; ++c) {
        const bool lineFeed = c[0] == L'\\' && c[1] == L'n';
        bytes += lineFeed ? '\n' : char(*c);
        c += lineFeed;
    }
    DWORD written = 0;
    if (!bytes.empty())
        WriteFile(pipe, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    Sleep(1000); // long enough for the instance to see the client and what came
    CloseHandle(pipe);
    return 0;
}
