// Faults injected through the platform seam and the memory hooks: every
// failure gives one clean line, the right code, and leaves nothing held.
#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

const std::u16string kName = u"a.wav";

// An extensible descriptor in the second of two fmt chunks, so that several
// allocations are made in one run.
const std::string kFile = Riff(Chunk("fmt ", Format16(1, 1, 8000, 8)) + Chunk("LIST", "abc") +
                               Chunk("fmt ", Extensible(2, 48000, 32, 24, 3, 1)) + Chunk("data", "1234"));

TEST(Faults, EveryAllocationFailureInTurn) {
    const char* expected[] = {"Cannot initialize application", "Cannot allocate 16 bytes for format descriptor",
                              "Cannot allocate 40 bytes for format descriptor"};
    const uint32_t codes[] = {1002, 1003, 1003};
    for (int n = 0;; ++n) {
        SCOPED_TRACE(n);
        FakePlatform fake;
        fake.files[kName] = kFile;
        fake.allocationsLeft = n;
        uint32_t code = fake.Run(u"-f " + kName);
        EXPECT_EQ(fake.liveBlocks, 0);
        EXPECT_EQ(fake.openFiles, 0);
        if (code == 0) {
            EXPECT_EQ(n, 3);
            EXPECT_EQ(fake.err, "");
            break;
        }
        ASSERT_LT(n, 3);
        EXPECT_EQ(fake.err, Lines({expected[n]}));
        EXPECT_EQ(code, codes[n]);
    }
}

TEST(Faults, ReadsAndSkips) {
    struct {
        const char* name;
        int readsLeft;
        int shortReadAt;
        bool failSkip;
        std::string err;
    } cases[] = {
        {"header read fails", 0, -1, false, "Cannot read 12 bytes (5 - Input/output error)"},
        {"chunk header read fails", 1, -1, false, "Cannot read 8 bytes (5 - Input/output error)"},
        {"descriptor read fails", 2, -1, false, "Cannot read 16 bytes (5 - Input/output error)"},
        {"header read comes up short", -1, 0, false, "Read only 11 bytes of 12"},
        {"descriptor read comes up short", -1, 2, false, "Read only 15 bytes of 16"},
        {"skip fails", -1, -1, true, "Cannot skip chunk data (29 - Illegal seek)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform fake;
        fake.files[kName] = kFile;
        fake.readsLeft = c.readsLeft;
        fake.shortReadAt = c.shortReadAt;
        fake.failSkip = c.failSkip;
        EXPECT_EQ(fake.Run(kName), 102u);
        EXPECT_EQ(fake.err, Lines({c.err}));
        EXPECT_EQ(fake.liveBlocks, 0);
        EXPECT_EQ(fake.openFiles, 0);
    }
}

bool FailingWrite(OsHandle, const void*, uint32_t) { return false; }

TEST(Faults, FailedWritesChangeNothing) {
    FakePlatform fake;
    fake.files[kName] = kFile;
    g_platform.writeFile = FailingWrite;
    EXPECT_EQ(fake.Run(u"-v -o -f " + kName), 0u);
    fake.files[kName] = "RIFX";
    EXPECT_EQ(fake.Run(kName), 102u);
}

}  // namespace
