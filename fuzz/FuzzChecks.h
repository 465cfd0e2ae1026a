// What must hold for any input to a format core, shared by the libFuzzer
// targets and by the tests that replay their corpus.
//
// An input is a file and a comment: byte 0-1 the length L of a piece of
// comment (little-endian), byte 2 a repeat count R, then the L bytes of the
// piece, then the file. The comment is the piece R+1 times, so that a short
// input can reach the long comments that are split or refused.
#ifndef KESTRANE_FUZZ_CHECKS_H
#define KESTRANE_FUZZ_CHECKS_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace kes_fuzz {

// Each returns an empty text when the core behaved, else what went wrong.
std::string CheckZip(const uint8_t* data, size_t size);
std::string CheckJpeg(const uint8_t* data, size_t size);
std::string CheckPng(const uint8_t* data, size_t size);
std::string CheckGif(const uint8_t* data, size_t size);
std::string CheckMp3(const uint8_t* data, size_t size);
std::string CheckFlac(const uint8_t* data, size_t size);
std::string CheckOgg(const uint8_t* data, size_t size);
std::string CheckWav(const uint8_t* data, size_t size);
std::string CheckM4a(const uint8_t* data, size_t size);

// A digest of what the core of `format` writes for the input's file with
// its comment and with the empty comment ("-" for a refusal), to tell
// whether any output byte changed.
std::string OutputDigest(const std::string& format, const uint8_t* data, size_t size);

}  // namespace kes_fuzz

#endif
