// Runs one whole run of tests/data/runs.txt against a built program and
// compares both streams and the exit code with what the run lists. Built for
// this machine even when the program is built for another one, which it then
// starts through that build's emulator (Wine, qemu-user).
//
// Usage: runs [--scan SCAN [--compare]] RUNS_FILE NAME SYSTEM PROGRAM [LAUNCHER] [-- EMULATOR...]
//   SYSTEM is posix or windows: the run's lines for that system are the ones
//   compared. On windows, LAUNCHER (launch.exe) starts the program with the
//   command line the run decides. A run marked "program: sondrel-scan" runs
//   SCAN instead of PROGRAM. With --compare, a run of PROGRAM that names one
//   file is run through SCAN instead, which must give what PROGRAM gives
//   with SONDREL_ENCODING=utf-8, as text and as a JSON record; other runs
//   are skipped (exit 77).
// Exits 0 when the run ends as listed, 1 when it does not (naming the run's
// line and showing what differs), 2 when the run cannot be found or made.
#include <fcntl.h>
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

struct Run {
    std::string name;
    int line = 0;
    std::vector<std::pair<std::string, std::string>> files;  // name (and " @size"), recipe
    std::string environment, arguments, commandLine, hold = "-", limit, pipe;
    int descriptors = 0;  // "descriptors: N": 3 to N inherited open
    bool terminal = false;
    bool scan = false;  // "program: sondrel-scan"
    std::vector<std::string> out, err;  // "[system] " before a line of one system
    int code = -1;
};

bool Starts(const std::string& line, const char* key) { return line.rfind(key, 0) == 0; }

// The run of that name; one without a name when there is none or it cannot
// be read, with the reason in *problem.
Run FindRun(const std::string& path, const std::string& name, std::string* problem) {
    std::ifstream list(path);
    Run run;
    std::vector<std::string>* lines = nullptr;
    std::string line;
    for (int number = 1; std::getline(list, line); ++number) {
        std::string value = line.substr(line.find(':') == std::string::npos ? 0 : line.find(':') + 1);
        if (!value.empty() && value[0] == ' ') value.erase(0, 1);
        if (Starts(line, "== ")) {
            if (run.name == name) break;
            run = Run{};
            run.name = line.substr(3);
            run.line = number;
            lines = nullptr;
        } else if (run.name.empty() || (lines == nullptr && (line.empty() || line[0] == '#' || Starts(line, "only: ")))) {
        } else if (Starts(line, "file ")) {
            size_t colon = line.find(": ");
            run.files.emplace_back(Unescape(line.substr(5, colon - 5)), line.substr(colon + 2));
        } else if (Starts(line, "env: ")) {
            run.environment = value;
        } else if (Starts(line, "run:")) {
            run.arguments = Unescape(value);
        } else if (Starts(line, "cmdline: ")) {
            run.commandLine = value;
        } else if (Starts(line, "hold: ")) {
            run.hold = value;
        } else if (Starts(line, "ulimit: ")) {
            run.limit = value;
        } else if (Starts(line, "pipe: ")) {
            run.pipe = value;
        } else if (Starts(line, "descriptors: ")) {
            run.descriptors = std::atoi(value.c_str());
        } else if (line == "program: sondrel-scan") {
            run.scan = true;
        } else if (line == "terminal") {
            run.terminal = true;
        } else if (Starts(line, "exit ")) {
            run.code = std::atoi(line.c_str() + 5);
            lines = nullptr;
        } else if (line == "out:" || line == "err:") {
            lines = line == "out:" ? &run.out : &run.err;
        } else if (lines != nullptr) {
            lines->push_back(line);
        } else {
            *problem = path + ":" + std::to_string(number) + ": cannot read: " + line;
            return Run{};
        }
    }
    if (run.name != name && problem->empty()) *problem = "no run \"" + name + "\" in " + path;
    return run.name == name ? run : Run{};
}

int Shell(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Every run starts in a folder of its own that also holds a FIFO named
// "fifo", so runs in parallel share nothing.
std::string MakeFiles(const Run& run, const std::string& dir, const std::string& dataDir) {
    if (mkfifo((dir + "/fifo").c_str(), 0600) != 0) return "cannot make the FIFO";
    for (const auto& [name, recipe] : run.files) {
        // "name @size": the file is then made that size, sparse.
        size_t at = name.rfind(" @");
        std::string path = dir + "/" + name.substr(0, at), error;
        std::string bytes = RecipeBytes(recipe, dataDir, &error);
        if (!error.empty()) return "the recipe of " + name + ": " + error;
        if (name.find('/') != std::string::npos) Shell("mkdir -p \"$(dirname " + ShellQuote(path) + ")\"");
        std::ofstream(path, std::ios::binary) << bytes;
        if (at != std::string::npos && truncate(path.c_str(), std::atoll(name.c_str() + at + 2)) != 0) {
            return "cannot make " + name;
        }
    }
    return "";
}

// "{dir}" stands for the run's folder: its whole path on POSIX, and on
// Windows its path from the root of the drive, with backslashes.
std::string Substitute(std::string text, std::string dir, bool windows) {
    for (char& c : dir) c = windows && c == '/' ? '\\' : c;
    for (size_t at; (at = text.find("{dir}")) != std::string::npos;) text.replace(at, 5, dir);
    return text;
}

// From the run's folder, with its environment, both streams into files or
// onto a terminal, and the run's own redirections last, so that they win.
// The launcher joins the words after "--" into the program's command line,
// or takes a whole line after "--line". Wine reads words and file names as
// UTF-8 only in a UTF-8 locale, which a new machine may not have set.
std::string Command(const Run& run, const std::string& dir, bool windows, const std::string& program,
                    const std::string& launcher, const std::vector<std::string>& emulator) {
    std::string command = "exec env -u SONDREL_ENCODING LC_ALL=C.UTF-8 " + run.environment;
    for (const std::string& word : emulator) command += " " + ShellQuote(word);
    if (windows) {
        command += " " + ShellQuote(launcher) + " " + ShellQuote(program) + " " + ShellQuote(run.hold);
        command += run.commandLine.empty() ? " --" : " --line " + ShellQuote(run.commandLine);
    } else {
        command += " " + ShellQuote(program);
    }
    const std::string cd = "cd " + ShellQuote(dir) + " && " + (run.limit.empty() ? "" : "ulimit " + run.limit + " && ");
    // Standard output through a shell command, whose own output is what the
    // run shows; the program's exit code is kept apart from the command's.
    if (!run.pipe.empty()) {
        return cd + "{ " + command.substr(5) + " </dev/null 2>run.err " + run.arguments + "; echo $? >run.code; } | " +
               run.pipe + " >run.out";
    }
    if (!run.terminal) return cd + command + " </dev/null >run.out 2>run.err " + run.arguments;
    // script(1) gives both streams a pseudo-terminal and copies what it shows.
    return cd + "exec script -qec " + ShellQuote(command + " " + run.arguments) + " /dev/null </dev/null >run.out 2>run.err";
}

// What a terminal shows: without the escape sequences of Wine's console,
// which hides and shows the cursor around each line, and with each CR LF
// the program wrote, which the terminal turns into CR CR LF, as one line end.
std::string Shown(const std::string& bytes) {
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes.compare(i, 2, "\x1b[") == 0) {
            for (i += 2; i < bytes.size() && (bytes[i] < 0x40 || bytes[i] > 0x7E);) ++i;
        } else if (bytes.compare(i, 3, "\r\r\n") == 0) {
            text += '\n';
            i += 2;
        } else {
            text += bytes[i];
        }
    }
    return text;
}

std::string Expected(const std::vector<std::string>& lines, const std::string& system, const std::string& end) {
    std::string text;
    for (const std::string& line : lines) {
        std::string tag = line[0] == '[' ? line.substr(1, line.find(']') - 1) : "";
        if (tag.empty() || tag == system) text += Unescape(line.substr(tag.empty() ? 0 : tag.size() + 3)) + end;
    }
    return text;
}

constexpr int kSkipped = 77;

struct Launch {
    std::string dir, launcher;
    bool windows;
    std::vector<std::string> emulator;
};

// Runs program with these shell words and environment; its streams land in
// OUT.out and OUT.err of the run's folder.
int RunAs(Run run, const Launch& l, const std::string& program, const std::string& arguments,
          const std::string& environment, const std::string& out) {
    run.arguments = arguments;
    run.environment = environment;
    int code = Shell(Command(run, l.dir, l.windows, program, l.launcher, l.emulator));
    Shell("cd " + ShellQuote(l.dir) + " && mv run.out " + out + ".out && mv run.err " + out + ".err");
    return code;
}

// The arguments of a run as the shell splits them.
std::vector<std::string> Words(const Run& run, const std::string& dir) {
    Shell("cd " + ShellQuote(dir) + " && sh -c 'for a; do printf \"%s\\0\" \"$a\"; done' sh " + run.arguments +
          " >words");
    std::vector<std::string> words;
    std::string all = ReadWhole(dir + "/words");
    for (size_t at = 0, end; (end = all.find('\0', at)) != std::string::npos; at = end + 1) {
        words.push_back(all.substr(at, end - at));
    }
    return words;
}

// A run that names one file, as sondrel-scan sees it: the file's block and
// its JSON record hold exactly the lines and the code of the sondrel run.
int CompareScan(const Run& run, const Launch& l, const std::string& sondrel, const std::string& scan,
                const std::string& checker) {
    if (run.scan || run.terminal || !run.commandLine.empty() || run.hold != "-" || !run.limit.empty() ||
        !run.pipe.empty() || run.arguments.find_first_of("<>") != std::string::npos) {
        return kSkipped;
    }
    std::vector<std::string> words = Words(run, l.dir);
    std::string options;
    size_t i = 0;
    for (; i < words.size() && (words[i] == "-o" || words[i] == "-f" || words[i] == "-v"); ++i) options += words[i] + " ";
    if (i + 1 != words.size() || (!words[i].empty() && words[i][0] == '-')) return kSkipped;
    const std::string name = words[i], named = options + "-- " + ShellQuote(name);
    std::ofstream(l.dir + "/name", std::ios::binary) << name;

    const int code = RunAs(run, l, sondrel, run.arguments, "SONDREL_ENCODING=utf-8", "sondrel");
    const std::string out = ReadWhole(l.dir + "/sondrel.out"), err = ReadWhole(l.dir + "/sondrel.err");
    const std::string counted = "Checked 1 file: 1 with exit code " + std::to_string(code) + "\n";
    std::vector<std::string> problems;
    const int textCode = RunAs(run, l, scan, named, "", "text");
    std::string text = ReadWhole(l.dir + "/text.out");
    const size_t firstEnd = text.find('\n');
    const bool plainName = name.find_first_of("\x01\x02\x03\x04\x05\x06\x07\x08\t\n\x0b\x0c\r\x1b\x7f\x80\x85\x9b") ==
                           std::string::npos;
    if (text.compare(0, 4, "==> ") != 0 || firstEnd == std::string::npos ||
        (plainName && !l.windows && text.substr(0, firstEnd) != "==> " + name)) {
        problems.push_back("the block does not open with the name: " + text.substr(0, firstEnd));
    } else if (text.substr(firstEnd + 1) != out + err + "<== exit code " + std::to_string(code) + "\n") {
        problems.push_back("the block:\n" + text + "--- sondrel:\n" + out + err);
    }
    if (ReadWhole(l.dir + "/text.err") != counted) problems.push_back("the count: " + ReadWhole(l.dir + "/text.err"));
    if (textCode != (code == 0 ? 0 : 1)) problems.push_back("exit status " + std::to_string(textCode));
    RunAs(run, l, scan, "--json " + named, "", "json");
    // The record's warnings are those sondrel shows with every field.
    RunAs(run, l, sondrel, "-f " + run.arguments, "SONDREL_ENCODING=utf-8", "fields");
    if (Shell("cd " + ShellQuote(l.dir) + " && python3 " + ShellQuote(checker) + " json.out sondrel.out sondrel.err " +
              std::to_string(code) + " name fields.out >json.check") != 0) {
        problems.push_back("the JSON record:\n" + ReadWhole(l.dir + "/json.check") + ReadWhole(l.dir + "/json.out"));
    }
    if (problems.empty()) return 0;
    for (const std::string& problem : problems) std::cout << "--- sondrel-scan: " << problem << "\n";
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string scan;
    bool compare = false;
    if (argc > 2 && std::string(argv[1]) == "--scan") {
        scan = argv[2];
        compare = argc > 3 && std::string(argv[3]) == "--compare";
        argv += compare ? 3 : 2;
        argc -= compare ? 3 : 2;
    }
    if (argc < 5) {
        std::cerr << "usage: runs [--scan SCAN [--compare]] RUNS_FILE NAME SYSTEM PROGRAM [LAUNCHER] [-- EMULATOR...]\n";
        return 2;
    }
    const std::string list = argv[1], system = argv[3];
    const bool windows = system == "windows";
    int next = 5;
    const std::string launcher = next < argc && std::string(argv[next]) != "--" ? argv[next++] : "";
    if (next < argc) ++next;  // "--"
    const std::vector<std::string> emulator(argv + next, argv + argc);

    std::string problem;
    Run run = FindRun(list, argv[2], &problem);
    char made[] = "run.XXXXXX", here[4096];
    if (run.name.empty() || mkdtemp(made) == nullptr || getcwd(here, sizeof here) == nullptr) {
        std::cerr << (problem.empty() ? "cannot make a folder for the run" : problem) << "\n";
        return 2;
    }
    const std::string dir = std::string(here) + "/" + made;
    problem = MakeFiles(run, dir, list.substr(0, list.rfind('/')));
    if (!problem.empty()) {
        std::cerr << list << ":" << run.line << ": " << problem << "\n";
        return 2;
    }
    // Descriptors a caller left open, each on /dev/null (a shell cannot
    // name one above 9): the program's own then get higher numbers.
    for (int fd = 3, null = run.descriptors > 0 ? open("/dev/null", O_RDONLY) : -1; fd <= run.descriptors; ++fd) {
        if (fd != null && dup2(null, fd) != fd) return 2;
    }
    run.arguments = Substitute(run.arguments, dir, windows);
    run.commandLine = Substitute(run.commandLine, dir, windows);
    if (compare) {
        const std::string checker = list.substr(0, list.rfind('/')) + "/../runner/scan_record.py";
        const int result = CompareScan(run, Launch{dir, launcher, windows, emulator}, argv[4], scan, checker);
        if (result == 1) std::cout << list << ":" << run.line << ": " << run.name << "\n--- the run's files are kept in " << dir << "\n";
        if (result != 1) Shell("rm -rf " + ShellQuote(dir));
        return result;
    }
    int code = Shell(Command(run, dir, windows, run.scan ? scan : argv[4], launcher, emulator));
    if (!run.pipe.empty()) code = std::atoi(ReadWhole(dir + "/run.code").c_str());

    // Without an environment the lines are UTF-16LE ended by CR LF; a run that
    // asks for UTF-8 gets LF alone, and so does what a terminal shows.
    std::string out = ReadWhole(dir + "/run.out"), err = ReadWhole(dir + "/run.err");
    // sondrel-scan writes UTF-8 and LF alone whatever the environment.
    const bool utf16 = run.environment.empty() && !run.terminal && !run.scan;
    out = run.terminal ? Shown(out) : utf16 ? Utf16LeToUtf8(out) : out;
    err = utf16 ? Utf16LeToUtf8(err) : err;
    const std::string end = utf16 ? "\r\n" : "\n";
    const std::string wantOut = Substitute(Expected(run.out, system, end), dir, windows);
    const std::string wantErr = Substitute(Expected(run.err, system, end), dir, windows);
    if (out == wantOut && err == wantErr && code == run.code) {
        Shell("rm -rf " + ShellQuote(dir));
        return 0;
    }
    std::cout << list << ":" << run.line << ": " << run.name << "\n";
    if (out != wantOut) std::cout << "--- standard output\n" << out << "--- listed\n" << wantOut;
    if (err != wantErr) std::cout << "--- standard error\n" << err << "--- listed\n" << wantErr;
    if (code != run.code) std::cout << "--- exit code " << code << ", listed " << run.code << "\n";
    std::cout << "--- the run's files are kept in " << dir << "\n";
    return 1;
}
