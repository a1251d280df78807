// Starts a Windows program with exactly the command line a test decides.
// Wine, like a shell, would rebuild a program's command line from words; the
// program's own reading of its command line is what the whole runs test, so
// the line travels here as hexadecimal UTF-16 units and reaches the program
// untouched through CreateProcessW.
//
// Usage: launch.exe HEX-LINE PROGRAM HOLD [ignored words...]
// HOLD is "-", or a file this process keeps open for writing while the
// program runs, as a recorder writing the file would. The program inherits
// the three standard handles; its exit code is ours.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include <string>

int main(int argc, char** argv) {
    if (argc < 4) return 125;
    std::wstring line;
    for (const char* hex = argv[1]; strlen(hex) >= 4; hex += 4) {
        char unit[5] = {hex[0], hex[1], hex[2], hex[3], 0};
        line += wchar_t(strtoul(unit, nullptr, 16));
    }
    // A Unix path: Wine's drive Z: is the root of the Unix files.
    std::wstring program = L"Z:";
    for (const char* c = argv[2]; *c != 0; ++c) program += *c == '/' ? L'\\' : wchar_t(*c);

    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    HANDLE* handles[] = {&startup.hStdInput, &startup.hStdOutput, &startup.hStdError};
    const DWORD ids[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int i = 0; i < 3; ++i) {
        // A closed stream stays closed for the program too.
        *handles[i] = GetStdHandle(ids[i]);
        if (*handles[i] != nullptr && *handles[i] != INVALID_HANDLE_VALUE) {
            SetHandleInformation(*handles[i], HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
        }
    }
    if (strcmp(argv[3], "-") != 0 && CreateFileA(argv[3], GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                                 nullptr) == INVALID_HANDLE_VALUE) {
        return 124;
    }
    PROCESS_INFORMATION process;
    if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        return 126;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 127;
    GetExitCodeProcess(process.hProcess, &code);
    return int(code);
}
