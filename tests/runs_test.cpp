// Whole runs of the built program, listed in tests/data/runs.txt: the files
// each run makes, its command line, and both streams and the exit code it
// must end with. The files are written in a small recipe language:
//   "text" (\xNN for any byte)   "text"*N   le16(N) le32(N)
//   riff(body[, size]) chunk(id, body[, size]) padded(id, body)
//   pcm(tag, channels, rate, bits[, byteRate, align]): 16 bytes
//   sub(tag): the SubFormat GUID for a tag   data(file under tests/data)
// Items side by side are joined; numbers are decimal or 0x hexadecimal.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>

#include "tests/test_support.h"

namespace {

// "\xNN" stands for that byte; any other backslash is itself.
std::string Unescape(const std::string& text) {
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "\\x") == 0 && i + 3 < text.size()) {
            bytes += char(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            bytes += text[i];
        }
    }
    return bytes;
}

struct Recipe {
    const char* at;

    void Spaces() {
        while (*at == ' ') ++at;
    }
    // To the next argument of a call.
    void Next() {
        Spaces();
        if (*at == ',') ++at;
        Spaces();
    }
    uint64_t Number() {
        Next();
        char* end;
        uint64_t n = std::strtoull(at, &end, 0);
        at = end;
        return n;
    }
    std::string Text() {
        const char* end = std::strchr(++at, '"');
        const std::string text = Unescape(std::string(at, end));
        at = end + 1;
        if (*at != '*') return text;
        ++at;
        std::string repeated;
        for (uint64_t n = Number(); n > 0; --n) repeated += text;
        return repeated;
    }
    // Items up to a closing parenthesis, a comma or the end.
    std::string Bytes() {
        std::string bytes;
        for (Next(); *at != 0 && *at != ')' && *at != ','; Spaces()) bytes += *at == '"' ? Text() : Call();
        return bytes;
    }
    bool More() {
        Spaces();
        return *at == ',';
    }
    std::string Call() {
        const char* name = at;
        while (*at != '(' && *at != 0) ++at;
        if (*at == 0) {
            ADD_FAILURE() << "no recipe in " << name;
            return "";
        }
        const std::string f(name, at++);
        std::string result;
        if (f == "le16" || f == "le32") {
            result = f == "le16" ? Le16(uint32_t(Number())) : Le32(uint32_t(Number()));
        } else if (f == "riff") {
            std::string body = Bytes();
            result = Riff(body, More() ? int64_t(Number()) : -1);
        } else if (f == "chunk" || f == "padded") {
            std::string id = Bytes(), body = Bytes();
            result = f == "padded" ? PaddedChunk(id, body) : Chunk(id, body, More() ? int64_t(Number()) : -1);
        } else if (f == "pcm") {
            uint64_t v[6] = {Number(), Number(), Number(), Number()};
            if (More()) {
                v[4] = Number(), v[5] = Number();
                result = Format16(uint16_t(v[0]), uint16_t(v[1]), uint32_t(v[2]), uint32_t(v[4]), uint16_t(v[5]),
                                  uint16_t(v[3]));
            } else {
                result = Format16(uint16_t(v[0]), uint16_t(v[1]), uint32_t(v[2]), uint16_t(v[3]));
            }
        } else if (f == "sub") {
            result = SubFormat(uint16_t(Number()));
        } else if (f == "data") {
            result = ReadWhole(std::string(SONDREL_SOURCE_DIR) + "/tests/data/" + Bytes());
        } else {
            ADD_FAILURE() << "no recipe " << f;
        }
        Spaces();
        EXPECT_EQ(*at, ')') << f;
        ++at;
        return result;
    }
};

struct Listed {
    std::string name;
    std::vector<std::pair<std::string, std::string>> files;  // name (and size), recipe
    std::string environment, arguments;
    RunResult expected{"", "", 0};
    bool elsewhere = false;  // for another system, or given as a raw Windows command line
};

std::vector<Listed> ReadRuns() {
    std::ifstream list(std::string(SONDREL_SOURCE_DIR) + "/tests/data/runs.txt");
    std::vector<Listed> runs;
    std::string line, *lines = nullptr;
    auto starts = [&line](const char* key) { return line.rfind(key, 0) == 0; };
    while (std::getline(list, line)) {
        if (starts("== ")) {
            runs.push_back({line.substr(3), {}, "", "", {"", "", 0}, false});
            lines = nullptr;
        } else if (runs.empty() || (lines == nullptr && (line.empty() || line[0] == '#'))) {
        } else if (starts("file ")) {
            size_t colon = line.find(": ");
            runs.back().files.emplace_back(Unescape(line.substr(5, colon - 5)), line.substr(colon + 2));
        } else if (starts("only: ") || starts("cmdline: ")) {
            runs.back().elsewhere |= line != "only: posix";
        } else if (starts("env: ")) {
            runs.back().environment = line.substr(5);
        } else if (starts("run:")) {
            runs.back().arguments = Unescape(line.substr(line.size() > 4 ? 5 : 4));
        } else if (starts("exit ")) {
            runs.back().expected.code = std::stoi(line.substr(5));
            lines = nullptr;
        } else if (line == "out:" || line == "err:") {
            lines = line == "out:" ? &runs.back().expected.out : &runs.back().expected.err;
        } else if (lines != nullptr) {
            *lines += Unescape(line) + (runs.back().environment.empty() ? "\r\n" : "\n");
        } else {
            ADD_FAILURE() << "cannot read: " << line;
        }
    }
    return runs;
}

TEST(Runs, AsListed) {
    const std::vector<Listed> runs = ReadRuns();
    ASSERT_GT(runs.size(), 50u);
    ASSERT_EQ(std::system(("mkfifo " + ShellQuote(ScratchDir() + "/fifo")).c_str()), 0);
    for (const Listed& run : runs) {
        // Started here through the shell: a run that needs another system or
        // a command line no shell can give is passed over.
        if (run.elsewhere) continue;
        SCOPED_TRACE(run.name);
        std::vector<std::unique_ptr<ScopedFile>> files;
        for (const auto& [name, recipe] : run.files) {
            // "name @size": the file is then made that size, sparse.
            size_t at = name.rfind(" @");
            files.emplace_back(new ScopedFile(name.substr(0, at), Recipe{recipe.c_str()}.Bytes()));
            if (at == std::string::npos) continue;
            std::string grow = "truncate -s " + name.substr(at + 2) + " " + ShellQuote(files.back()->path());
            ASSERT_EQ(std::system(grow.c_str()), 0);
        }
        EXPECT_EQ(run.environment.empty() ? RunSondrel(run.arguments) : RunSondrelRaw(run.environment, run.arguments),
                  run.expected);
    }
}

}  // namespace
