// Stands in for powershell.exe in the Wine prefix: writes its own command line
// (UTF-8) to $PELLUM_STANDIN_LOG, waits $PELLUM_STANDIN_SLEEP_MS and exits
// with $PELLUM_STANDIN_EXIT.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

int main()
{
    if (const wchar_t* log = _wgetenv(L"PELLUM_STANDIN_LOG")) {
        const wchar_t* line = GetCommandLineW();
        char text[8192];
        const int size = WideCharToMultiByte(CP_UTF8, 0, line, -1, text, sizeof text, nullptr, nullptr);
        if (FILE* file = _wfopen(log, L"wb")) {
            std::fwrite(text, 1, size > 0 ? size - 1 : 0, file);
            std::fclose(file);
        }
    }
    if (const char* sleep = std::getenv("PELLUM_STANDIN_SLEEP_MS"))
        Sleep(DWORD(std::atoi(sleep)));
    const char* code = std::getenv("PELLUM_STANDIN_EXIT");
    return code ? std::atoi(code) : 0;
}
