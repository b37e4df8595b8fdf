// Conversion between a file's code page and the narrow encoding held in memory (UTF-8 on
// POSIX, the ANSI code page on Windows).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/byte_buffer.h"
#include "base/code_page.h"

namespace menuconv::platform {

// True when narrow text in memory is UTF-8 (else the system's ANSI code page).
bool NarrowIsUtf8();

// Byte sequences that are invalid in a code page, met while decoding.
struct DecodeFaults {
  std::size_t count = 0;
  std::size_t first = std::string_view::npos;  // the first one's position in the input
};

// The conversions between file code pages and narrow text, with what they keep from one call
// to the next (the system's converters, tables of the single-byte code pages), each made on
// first use. One object serves one thread at a time; a run holds one for all it converts.
class CodePageConverters {
 public:
  CodePageConverters();
  ~CodePageConverters();
  CodePageConverters(const CodePageConverters&) = delete;
  CodePageConverters& operator=(const CodePageConverters&) = delete;

  // True when the platform can convert the code page.
  bool CanConvert(uint32_t codePage);

  // File bytes in `codePage` to narrow text. Invalid sequences become U+FFFD where the narrow
  // encoding can hold it, characters the narrow encoding lacks a best-fit character or "?".
  // Fails only for a code page the platform cannot convert. With `faults`, the invalid
  // sequences are counted there (on Windows only for utf-8, whose decoding the system does
  // not report).
  bool ToNarrow(uint32_t codePage, std::string_view bytes, ByteBuffer& out, DecodeFaults* faults = nullptr);

  // Narrow text to bytes in `codePage`; characters the code page lacks become a best-fit
  // character or "?". Fails only for a code page the platform cannot convert.
  bool FromNarrow(uint32_t codePage, std::string_view text, ByteBuffer& out);

 private:
  struct Kept;
  std::unique_ptr<Kept> kept_;
};

}  // namespace menuconv::platform
