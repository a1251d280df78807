// Allocations that fail, each in turn: every failure gives one clean line,
// the right code, and leaves nothing held. Failed reads and skips are in
// reader_test.cpp; failed writes in the POSIX stream tests.
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

}  // namespace
