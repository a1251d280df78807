// Starts the Windows program with exactly the command line a whole run
// decides, through CreateProcessW: the program's own reading of its command
// line is what the runs test, not a line Wine rebuilt from words.
//
// Usage: launch.exe PROGRAM HOLD -- WORDS...     the words, each quoted as the
//                                                POSIX entry quotes arguments
//        launch.exe PROGRAM HOLD --line LINE     LINE whole, "\uXXXX" for one
//                                                UTF-16 unit
// PROGRAM is a Unix path (Wine's drive Z: is the Unix root). HOLD is "-", or
// a file this process keeps open for writing while the program runs, as a
// recorder writing it would. The program inherits the standard handles; its
// exit code is ours.
#include <windows.h>

#include <string>

namespace {

// In double quotes when it holds a blank or a quote, or is empty; a quote is
// escaped by a backslash, and the backslashes before a quote or the closing
// quote are doubled.
std::wstring Quoted(const std::wstring& word) {
    if (!word.empty() && word.find_first_of(L" \t\"") == std::wstring::npos) return word;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : word) {
        if (c == L'"') quoted.append(backslashes + 1, L'\\');
        backslashes = c == L'\\' ? backslashes + 1 : 0;
        quoted += c;
    }
    return quoted.append(backslashes, L'\\') + L"\"";
}

std::wstring Unescaped(const std::wstring& line) {
    std::wstring units;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line.compare(i, 2, L"\\u") == 0 && i + 6 <= line.size()) {
            units += wchar_t(std::stoul(line.substr(i + 2, 4), nullptr, 16));
            i += 5;
        } else {
            units += line[i];
        }
    }
    return units;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) return 125;
    std::wstring program = L"Z:" + std::wstring(argv[1]), line = L"sondrel";
    for (wchar_t& c : program) c = c == L'/' ? L'\\' : c;
    if (std::wstring(argv[3]) == L"--line" && argc > 4) line = Unescaped(argv[4]);
    for (int i = 4; i < argc && std::wstring(argv[3]) == L"--"; ++i) line += L" " + Quoted(argv[i]);
    if (std::wstring(argv[2]) != L"-" &&
        CreateFileW(argv[2], GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr) == INVALID_HANDLE_VALUE) {
        return 124;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    HANDLE* handles[] = {&startup.hStdInput, &startup.hStdOutput, &startup.hStdError};
    const DWORD ids[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int i = 0; i < 3; ++i) {
        // A closed stream stays closed for the program too.
        *handles[i] = GetStdHandle(ids[i]);
        SetHandleInformation(*handles[i], HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
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
