#include "xml/held_text.h"

#include "base/byte_buffer.h"
#include "platform/codepage.h"

namespace menuconv {

bool RoundTripsExactly(platform::CodePageConverters& converters, uint32_t codePage) {
  // Only the single-byte code pages of the encoding table: as each byte is a character of its
  // own, one conversion of all of them tells.
  if (!code_page::IsWindows125x(codePage)) return false;
  char every[255];
  for (int i = 0; i < 255; ++i) every[i] = static_cast<char>(i + 1);
  const std::string_view bytes(every, sizeof every);
  ByteBuffer narrow, back;
  return converters.ToNarrow(codePage, bytes, narrow) && converters.FromNarrow(codePage, narrow.view(), back) &&
         back.view() == bytes;
}

std::string NarrowText(platform::CodePageConverters& converters, const XmlDocument& document, std::string_view text) {
  const Encoding& encoding = document.GetEncoding();
  if (encoding.IsNarrowText()) return std::string(text);
  ByteBuffer narrow;
  // Cannot fail: Load holds UTF-8, or bytes of a code page after converting all of them.
  if (!converters.ToNarrow(encoding.heldCodePage, text, narrow)) return std::string(text);
  return std::string(narrow.view());
}

}  // namespace menuconv
