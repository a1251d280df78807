// Runs one whole run of tests/data/runs.txt against a built program and
// compares both streams and the exit code with what the run lists. Built for
// this machine even when the program is built for another one, which it then
// starts through that build's emulator (Wine, qemu-user).
//
// Usage: runs RUNS_FILE NAME SYSTEM PROGRAM [LAUNCHER] [-- EMULATOR...]
//   SYSTEM is posix or windows: the run's lines for that system are the ones
//   compared, and on windows the program gets the command line the run
//   decides, started with exactly that line by LAUNCHER (launch.exe).
// Exits 0 when the run ends as listed, 1 when it does not (showing where the
// run is listed and what differs), 2 when the run cannot be found or made.
//
// Sections: reading the list; making the files; the command; comparing.
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "tests/recipe.h"

namespace {

// --- Reading the list -------------------------------------------------------------

struct Expected {
    std::string system;  // empty: every system
    std::string text;
};

struct Run {
    std::string name;
    int line = 0;
    std::string only;
    std::vector<std::pair<std::string, std::string>> files;  // name (and " @size"), recipe
    std::string environment;
    std::string arguments;    // shell words
    std::string commandLine;  // raw, Windows only
    std::string hold = "-";   // a file another process holds open for writing, Windows only
    bool terminal = false;
    std::vector<Expected> out, err;
    int code = -1;
};

bool Starts(const std::string& line, const char* key) { return line.rfind(key, 0) == 0; }

// The run of that name, or one with an empty name and a message.
Run FindRun(const std::string& path, const std::string& name, std::string* problem) {
    std::ifstream list(path);
    if (!list) *problem = "cannot read " + path;
    Run run, found;
    std::vector<Expected>* lines = nullptr;
    std::string line;
    for (int number = 1; std::getline(list, line); ++number) {
        if (Starts(line, "== ")) {
            if (run.name == name) break;
            run = Run{};
            run.name = line.substr(3);
            run.line = number;
            lines = nullptr;
        } else if (run.name.empty() || (lines == nullptr && (line.empty() || line[0] == '#'))) {
        } else if (Starts(line, "file ")) {
            size_t colon = line.find(": ");
            run.files.emplace_back(Unescape(line.substr(5, colon - 5)), line.substr(colon + 2));
        } else if (Starts(line, "only: ")) {
            run.only = line.substr(6);
        } else if (Starts(line, "env: ")) {
            run.environment = line.substr(5);
        } else if (Starts(line, "run:")) {
            run.arguments = Unescape(line.substr(line.size() > 4 ? 5 : 4));
        } else if (Starts(line, "cmdline: ")) {
            run.commandLine = line.substr(9);
        } else if (Starts(line, "hold: ")) {
            run.hold = line.substr(6);
        } else if (line == "terminal") {
            run.terminal = true;
        } else if (Starts(line, "exit ")) {
            run.code = std::atoi(line.c_str() + 5);
            lines = nullptr;
        } else if (line == "out:" || line == "err:") {
            lines = line == "out:" ? &run.out : &run.err;
        } else if (lines != nullptr) {
            Expected e;
            for (const char* system : {"posix", "windows"}) {
                std::string tag = std::string("[") + system + "] ";
                if (Starts(line, tag.c_str())) {
                    e.system = system;
                    line = line.substr(tag.size());
                }
            }
            e.text = Unescape(line);
            lines->push_back(e);
        } else {
            *problem = path + ":" + std::to_string(number) + ": cannot read: " + line;
            return Run{};
        }
    }
    if (run.name != name) {
        *problem = "no run \"" + name + "\" in " + path;
        return Run{};
    }
    return run;
}

// --- Making the files -----------------------------------------------------------------

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

int Shell(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Every run starts in a folder of its own that also holds a FIFO named
// "fifo", so runs in parallel share nothing.
bool MakeFiles(const Run& run, const std::string& dir, const std::string& dataDir, std::string* problem) {
    if (mkfifo((dir + "/fifo").c_str(), 0600) != 0) {
        *problem = "cannot make the FIFO";
        return false;
    }
    for (const auto& [name, recipe] : run.files) {
        // "name @size": the file is then made that size, sparse.
        size_t at = name.rfind(" @");
        std::string path = dir + "/" + name.substr(0, at);
        // A name with folders: they are made first.
        size_t slash = path.rfind('/');
        if (slash > dir.size()) Shell("mkdir -p " + ShellQuote(path.substr(0, slash)));
        std::string error;
        std::string bytes = RecipeBytes(recipe, dataDir, &error);
        if (!error.empty()) {
            *problem = "the recipe of " + name + ": " + error;
            return false;
        }
        std::ofstream(path, std::ios::binary) << bytes;
        if (at != std::string::npos && truncate(path.c_str(), std::atoll(name.c_str() + at + 2)) != 0) {
            *problem = "cannot make " + name;
            return false;
        }
    }
    return true;
}

// --- The command ----------------------------------------------------------------------

// The words of a shell command line, as the shell splits them. Redirections
// among them apply to `set` alone.
std::vector<std::string> ShellWords(const std::string& dir, const std::string& words) {
    std::string file = dir + "/words";
    Shell("cd " + ShellQuote(dir) + " && set -- " + words + "; for a; do printf '%s\\0' \"$a\"; done >words");
    std::string all = ReadWhole(file);
    unlink(file.c_str());
    std::vector<std::string> split;
    for (size_t start = 0, end; (end = all.find('\0', start)) != std::string::npos; start = end + 1) {
        split.push_back(all.substr(start, end - start));
    }
    return split;
}

// UTF-16 as the POSIX entry reads an argument's bytes: valid UTF-8 as its
// characters, any other byte b as the lone unit U+DC00 + b.
std::u16string Utf8ToUnits(const std::string& bytes) {
    std::u16string units;
    for (size_t i = 0; i < bytes.size();) {
        uint8_t b = uint8_t(bytes[i]);
        size_t n = b < 0x80 ? 1 : b >= 0xC2 && b < 0xE0 ? 2 : b >= 0xE0 && b < 0xF0 ? 3 : b >= 0xF0 && b < 0xF5 ? 4 : 0;
        uint32_t cp = n == 1 ? b : b & (0x7F >> n);
        for (size_t k = 1; k < n; ++k) {
            if (i + k >= bytes.size() || (uint8_t(bytes[i + k]) & 0xC0) != 0x80) n = 0;
            if (n != 0) cp = cp << 6 | (uint8_t(bytes[i + k]) & 0x3F);
        }
        static const uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (n == 0 || cp < kLeast[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) {
            units += char16_t(0xDC00 | b);
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            units += char16_t(0xD800 + ((cp - 0x10000) >> 10));
            cp = 0xDC00 + (cp & 0x3FF);
        }
        units += char16_t(cp);
        i += n;
    }
    return units;
}

// An argument as Windows programs read it back: in double quotes when it
// holds a blank or a quote or is empty; a quote escaped by a backslash, and
// the backslashes before a quote or the closing quote doubled.
std::u16string QuoteArgument(const std::u16string& arg) {
    if (!arg.empty() && arg.find_first_of(u" \t\"") == std::u16string::npos) return arg;
    std::u16string quoted = u"\"";
    size_t backslashes = 0;
    for (char16_t c : arg) {
        if (c == u'"') quoted.append(backslashes + 1, u'\\');
        backslashes = c == u'\\' ? backslashes + 1 : 0;
        quoted += c;
    }
    return quoted.append(backslashes, u'\\') + u"\"";
}

// A raw command line: UTF-8 text, "\uXXXX" for one UTF-16 unit.
std::u16string RawLine(const std::string& text) {
    std::u16string line;
    size_t start = 0;
    for (size_t at; (at = text.find("\\u", start)) != std::string::npos && at + 6 <= text.size(); start = at + 6) {
        line += Utf8ToUnits(text.substr(start, at - start));
        line += char16_t(std::strtoul(text.substr(at + 2, 4).c_str(), nullptr, 16));
    }
    return line + Utf8ToUnits(text.substr(start));
}

std::string Hex(const std::u16string& units) {
    std::string hex;
    char four[5];
    for (char16_t u : units) {
        snprintf(four, sizeof four, "%04x", unsigned(u));
        hex += four;
    }
    return hex;
}

// The shell command of the run: from its folder, with its environment, both
// streams into files (or onto a terminal), the run's own redirections last
// so that they win.
std::string Command(const Run& run, const std::string& dir, const std::string& system, const std::string& program,
                    const std::string& launcher, const std::vector<std::string>& emulator) {
    std::string command = "exec env -u SONDREL_ENCODING " + run.environment;
    for (const std::string& word : emulator) command += " " + ShellQuote(word);
    if (system == "windows") {
        std::u16string line = RawLine(run.commandLine);
        if (run.commandLine.empty()) {
            line = u"sondrel";
            for (const std::string& word : ShellWords(dir, run.arguments)) line += u" " + QuoteArgument(Utf8ToUnits(word));
        }
        // The launcher ignores the words after its own three, but the shell
        // still applies the run's redirections.
        command += " " + ShellQuote(launcher) + " " + Hex(line) + " " + ShellQuote(program) + " " + ShellQuote(run.hold);
    } else {
        command += " " + ShellQuote(program);
    }
    if (run.terminal) {
        // script(1) gives the program a pseudo-terminal for both streams and
        // copies what it shows to run.out.
        return "cd " + ShellQuote(dir) + " && exec script -qec " + ShellQuote(command + " " + run.arguments) +
               " /dev/null </dev/null >run.out 2>run.err";
    }
    return "cd " + ShellQuote(dir) + " && " + command + " </dev/null >run.out 2>run.err " + run.arguments;
}

// "{dir}" stands for the run's folder: its whole path on POSIX, and on
// Windows its path from the root of the drive, with backslashes.
std::string Substitute(std::string text, const std::string& dir, const std::string& system) {
    std::string path = dir;
    if (system == "windows") {
        for (char& c : path) c = c == '/' ? '\\' : c;
    }
    for (size_t at; (at = text.find("{dir}")) != std::string::npos;) text.replace(at, 5, path);
    return text;
}

// --- Comparing --------------------------------------------------------------------------

std::string Join(const std::vector<Expected>& lines, const std::string& system, const std::string& end) {
    std::string text;
    for (const Expected& e : lines) {
        if (e.system.empty() || e.system == system) text += e.text + end;
    }
    return text;
}

// What a terminal shows: no carriage returns, no escape sequences of the
// console's own (Wine hides and shows the cursor around each line).
std::string Shown(const std::string& bytes) {
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes.compare(i, 2, "\x1b[") == 0) {
            for (i += 2; i < bytes.size() && !(bytes[i] >= 0x40 && bytes[i] <= 0x7E);) ++i;
        } else if (bytes[i] != '\r') {
            text += bytes[i];
        }
    }
    return text;
}

// Bytes as they are listed: printable ASCII and UTF-8 as they are, others as \xNN.
std::string Listed(const std::string& text) {
    std::string shown;
    for (unsigned char c : text) {
        if (c == '\n') {
            shown += "\n    ";
        } else if (c < 0x20 || c == 0x7F) {
            char hex[5];
            snprintf(hex, sizeof hex, "\\x%02x", c);
            shown += hex;
        } else {
            shown += char(c);
        }
    }
    return shown;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::cerr << "usage: runs RUNS_FILE NAME SYSTEM PROGRAM [LAUNCHER] [-- EMULATOR...]\n";
        return 2;
    }
    const std::string listPath = argv[1], name = argv[2], system = argv[3], program = argv[4];
    std::string launcher;
    std::vector<std::string> emulator;
    int i = 5;
    if (i < argc && std::string(argv[i]) != "--") launcher = argv[i++];
    if (i < argc) ++i;
    for (; i < argc; ++i) emulator.push_back(argv[i]);

    std::string problem;
    Run run = FindRun(listPath, name, &problem);
    char dirTemplate[] = "run.XXXXXX";
    const char* made = run.name.empty() ? nullptr : mkdtemp(dirTemplate);
    if (made == nullptr) {
        std::cerr << (problem.empty() ? "cannot make a folder for the run" : problem) << "\n";
        return 2;
    }
    const std::string dir = std::string(getcwd(nullptr, 0)) + "/" + made;
    std::string dataDir = listPath.substr(0, listPath.rfind('/'));
    if (!MakeFiles(run, dir, dataDir, &problem)) {
        std::cerr << listPath << ":" << run.line << ": " << problem << "\n";
        return 2;
    }

    run.arguments = Substitute(run.arguments, dir, system);
    run.commandLine = Substitute(run.commandLine, dir, system);
    for (auto* lines : {&run.out, &run.err}) {
        for (Expected& e : *lines) e.text = Substitute(e.text, dir, system);
    }
    const int code = Shell(Command(run, dir, system, program, launcher, emulator));
    std::string out = ReadWhole(dir + "/run.out"), err = ReadWhole(dir + "/run.err");
    // Without an environment the lines are UTF-16LE ended by CR LF; a run that
    // asks for UTF-8 gets LF alone, as does what a terminal shows.
    const bool utf8 = !run.environment.empty() || run.terminal;
    if (run.terminal) {
        out = Shown(out);
    } else if (!utf8) {
        out = Utf16LeToUtf8(out);
        err = Utf16LeToUtf8(err);
    }
    const std::string end = utf8 ? "\n" : "\r\n";
    const std::string wantOut = Join(run.out, system, end), wantErr = Join(run.err, system, end);
    if (out == wantOut && err == wantErr && code == run.code) {
        Shell("rm -rf " + ShellQuote(dir));
        return 0;
    }
    std::cout << listPath << ":" << run.line << ": " << run.name << "\n";
    if (out != wantOut) std::cout << "standard output:\n    " << Listed(out) << "\nlisted:\n    " << Listed(wantOut) << "\n";
    if (err != wantErr) std::cout << "standard error:\n    " << Listed(err) << "\nlisted:\n    " << Listed(wantErr) << "\n";
    if (code != run.code) std::cout << "exit code " << code << ", listed " << run.code << "\n";
    std::cout << "the run's files are kept in " << dir << "\n";
    return 1;
}
