// Shared helpers of the tests: temporary files, the record of a run of the
// built program, and a fake platform for runs inside the test process.
#ifndef SONDREL_TESTS_TEST_SUPPORT_H
#define SONDREL_TESTS_TEST_SUPPORT_H

#include <stdint.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/recipe.h"

// The bytes one of the program's UTF-8 encoders makes of units.
std::string EncodedBy(uint32_t (*encode)(const WChar*, uint32_t, uint8_t*), const std::u16string& units);

// --- Files and the built program -----------------------------------------------

// A file in the tests' scratch folder, removed when it goes out of scope.
class ScopedFile {
public:
    ScopedFile(const std::string& name, const std::string& contents);
    ~ScopedFile();
    ScopedFile(const ScopedFile&) = delete;
    ScopedFile& operator=(const ScopedFile&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::string ScratchDir();

struct RunResult {
    // Standard output and standard error, UTF-16LE decoded to UTF-8: a
    // byte-order mark or an odd byte would show in the text.
    std::string out;
    std::string err;
    int code;
};

// A run is compared whole: both streams and the exit code.
inline bool operator==(const RunResult& a, const RunResult& b) {
    return a.out == b.out && a.err == b.err && a.code == b.code;
}
// How a failed comparison shows a run.
void PrintTo(const RunResult& run, std::ostream* os);

// --- Fake platform ---------------------------------------------------------------

// Replaces g_platform's file and stream entries with in-memory ones for the
// life of the object, and puts everything back afterwards. Files are looked
// up by name; output lines are collected per stream.
class FakePlatform {
public:
    FakePlatform();
    ~FakePlatform();
    FakePlatform(const FakePlatform&) = delete;
    FakePlatform& operator=(const FakePlatform&) = delete;

    std::map<std::u16string, std::string> files;
    std::string out;  // UTF-8
    std::string err;  // UTF-8
    int openFiles = 0;
    int liveBlocks = 0;          // MemAlloc blocks not yet released
    int allocationsLeft = -1;    // fail every allocation once this reaches 0
    int readsLeft = -1;          // fail reads once this reaches 0
    int shortReadAt = -1;        // the read with this index comes up short, and the file ends there
    int interruptAt = -1;        // the read with this index brings half what it asked for
    int skipsLeft = -1;          // fail skips once this reaches 0
    bool failSize = false;
    // The file is this much longer than its bytes, the rest read as 0xFF: a
    // short array stands for a large file.
    uint64_t stretch = 0;
    bool pastEnd = false;        // set when a read or skip went past the end

    // Runs the whole program on an argument text inside this process.
    uint32_t Run(const std::u16string& arguments);

private:
    Platform saved_;
};

#endif
