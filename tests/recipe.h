// WAV files described in a few words, and the text helpers that read what
// the program wrote. A recipe is written in a small language:
//   "text" (\xNN for any byte)   "text"*N   le16(N) le32(N)
//   riff(body[, size]) chunk(id, body[, size]) padded(id, body)
//   pcm(tag, channels, rate, bits[, byteRate, align]): 16 bytes
//   sub(tag): the SubFormat GUID for a tag   data(file under tests/data)
// Items side by side are joined; numbers are decimal or 0x hexadecimal.
#ifndef SONDREL_TESTS_RECIPE_H
#define SONDREL_TESTS_RECIPE_H

#include <stdint.h>

#include <string>
#include <vector>

// --- WAV builder -------------------------------------------------------------

// A chunk: identifier, size and body; the size defaults to the body's.
std::string Chunk(const std::string& id, const std::string& body, int64_t size = -1);
// The same with a zero pad byte after a body of odd size.
std::string PaddedChunk(const std::string& id, const std::string& body);
// "RIFF", size, "WAVE" and the chunks; the size defaults to the right one.
std::string Riff(const std::string& chunks, int64_t riffSize = -1);
// A 16-byte descriptor.
std::string Format16(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits);
// A 40-byte extensible descriptor with a SubFormat for the given tag.
std::string Extensible(uint16_t channels, uint32_t rate, uint16_t containerBits, uint16_t validBits, uint32_t mask,
                       uint16_t subFormatTag);
// The usual file: fmt chunk with the descriptor, data chunk of dataSize bytes.
std::string SimpleWave(const std::string& descriptor, uint32_t dataSize = 8);

// --- Text ----------------------------------------------------------------------

// The lines joined, each ended by CR LF.
std::string Lines(const std::vector<std::string>& lines);
// UTF-16LE bytes to UTF-8; a stray odd byte shows as "<odd byte>".
std::string Utf16LeToUtf8(const std::string& bytes);
std::string ToUtf8(const std::u16string& text);

// --- Recipes -----------------------------------------------------------------------

// "\xNN" stands for that byte; any other backslash is itself.
std::string Unescape(const std::string& text);
// The bytes of a recipe; data() reads files from dataDir. *error is empty,
// or says what could not be read.
std::string RecipeBytes(const std::string& recipe, const std::string& dataDir, std::string* error);
// A file's bytes; none when it cannot be read.
std::string ReadWhole(const std::string& path);
// Text as one word of a POSIX shell, in single quotes.
std::string ShellQuote(const std::string& text);

#endif
