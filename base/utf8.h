// UTF-8 checks and repair: the narrow encoding held in memory on POSIX.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/byte_buffer.h"

namespace menuconv {

// What the first byte of a UTF-8 sequence says about it: how many bytes the sequence takes (1
// for ASCII; 0 for a byte that begins none: a continuation byte, C0, C1, F5 to FF) and the
// range of its second byte, which rules out overlong forms, surrogates and values past
// U+10FFFF. Every later byte is a continuation byte.
struct Utf8Lead {
  uint8_t length = 0;
  unsigned char secondLow = 0x80;
  unsigned char secondHigh = 0xBF;
};

constexpr Utf8Lead Utf8LeadOf(unsigned char lead) {
  Utf8Lead l;
  if (lead < 0x80) {
    l.length = 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    l.length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    l.length = 3;
    if (lead == 0xE0) l.secondLow = 0xA0;
    if (lead == 0xED) l.secondHigh = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    l.length = 4;
    if (lead == 0xF0) l.secondLow = 0x90;
    if (lead == 0xF4) l.secondHigh = 0x8F;
  }
  return l;
}

constexpr bool IsUtf8Continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Position of the first byte that does not start a well-formed UTF-8 sequence (overlong
// forms, surrogates and values past U+10FFFF are ill-formed), or npos when all are fine.
std::size_t FindInvalidUtf8(std::string_view text);

inline bool IsValidUtf8(std::string_view text) { return FindInvalidUtf8(text) == std::string_view::npos; }

namespace byte_scan {
struct StartTagCounts;
}

// How many bytes come before the first zero byte (all of them when none is zero), and whether
// those are well-formed UTF-8: the search and the check in one pass over the bytes. The same
// pass counts the start tags of the blocks it reads into `startTags`, if given: the counts are
// of the text up to that zero byte where it is valid.
struct Utf8UpToZero {
  std::size_t size = 0;
  bool valid = false;
};
Utf8UpToZero CheckUtf8UpToZero(std::string_view bytes, byte_scan::StartTagCounts* startTags = nullptr);
// How many bytes come before the first zero byte (all of them when none is zero), with the
// start tags counted as CheckUtf8UpToZero counts them: the same pass, for a text that is not
// checked.
std::size_t SizeUpToZero(std::string_view bytes, byte_scan::StartTagCounts& startTags);

// For the tests: the checks read vectors of at most `bytes` bytes (64, 32, or 0 for none), so
// that each way the processor has can be compared with the others.
void LimitUtf8Vectors(int bytes);

// How many bytes at the end of the text begin a character that more bytes could complete
// (0 to 3): text that comes in pieces keeps them for the next piece.
std::size_t IncompleteUtf8Tail(std::string_view text);

// Appends the text to `out` with each maximal ill-formed subpart replaced by U+FFFD.
void AppendRepairedUtf8(std::string_view text, ByteBuffer& out);

// How many maximal ill-formed subparts AppendRepairedUtf8 would replace; `first` gets the
// position of the first of them (npos when there is none).
std::size_t CountInvalidUtf8(std::string_view text, std::size_t& first);

}  // namespace menuconv
