// The single-byte code pages of the encoding table, held as data: decoding them and encoding
// their own characters back needs no converter.
#pragma once

#include <cstdint>

namespace menuconv::platform {

// A byte that is no character of its code page decodes to this, and nothing encodes to it.
inline constexpr char16_t kNotACharacter = 0xFFFD;

// The characters of bytes 0x80 to 0xFF of a windows-125x code page, in byte order; each
// other than kNotACharacter is encoded back as its own byte. Null for any other code page.
const char16_t* HighBytesOf(uint32_t codePage);

}  // namespace menuconv::platform
