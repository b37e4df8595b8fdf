// POSIX code-page layer: ICU's converters, with UTF-8 as the narrow encoding in memory.
#include <unicode/ucnv.h>

#include <map>
#include <memory>

#include "platform/codepage.h"
#include "xml/utf8.h"

namespace menuconv::platform {

namespace {

// ICU names of the code pages of the encoding table.
const char* IcuName(uint32_t codePage) {
  switch (codePage) {
    case 65001: return "UTF-8";
    case 65000: return "UTF-7";
    case 1250: return "windows-1250";
    case 1251: return "windows-1251";
    case 1252: return "windows-1252";
    case 1253: return "windows-1253";
    case 1254: return "windows-1254";
    case 932: return "windows-31j";  // Windows' own 932 table, not plain Shift_JIS
    case 50221: return "ISO-2022-JP";
    case 50225: return "ISO-2022-KR";
    default: return nullptr;
  }
}

struct ConverterCloser {
  void operator()(UConverter* c) const { ucnv_close(c); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

UConverter* Open(const char* name) {
  UErrorCode error = U_ZERO_ERROR;
  UConverter* converter = ucnv_open(name, &error);
  if (U_FAILURE(error)) return nullptr;
  // Fallback mappings come closest to Windows' best-fit replacements; a character the
  // target lacks otherwise becomes "?".
  ucnv_setFallback(converter, true);
  error = U_ZERO_ERROR;
  ucnv_setSubstChars(converter, "?", 1, &error);
  return converter;
}

// One converter per code page, opened on first use and kept for the run.
UConverter* ConverterFor(uint32_t codePage) {
  static std::map<uint32_t, Converter> converters;
  auto it = converters.find(codePage);
  if (it == converters.end()) {
    const char* name = IcuName(codePage);
    it = converters.emplace(codePage, Converter(name ? Open(name) : nullptr)).first;
  }
  if (it->second) ucnv_reset(it->second.get());
  return it->second.get();
}

// The narrow side of every conversion.
UConverter* Utf8Converter() {
  static Converter utf8(Open("UTF-8"));
  if (utf8) ucnv_reset(utf8.get());
  return utf8.get();
}

// Converts the whole input, growing the output as needed: only an unusable converter fails.
bool Convert(UConverter* to, UConverter* from, std::string_view in, ByteBuffer& out,
             std::size_t expectedGrowth) {
  // Nothing in gives nothing out: no ISO-2022-KR header and no UTF-7 shift for an empty text.
  if (in.empty()) return true;
  const std::size_t start = out.size();
  std::size_t capacity = in.size() * expectedGrowth + 16;
  out.Resize(start + capacity);
  UChar pivot[4096];
  UChar* pivotSource = pivot;
  UChar* pivotTarget = pivot;
  const char* source = in.data();
  std::size_t written = start;  // offsets, not pointers: the buffer moves when it grows
  // The converters were reset when they were handed out. Letting ucnv_convertEx reset them
  // again loses the "ESC $ ) C" header that an ISO-2022-KR text must start with.
  const bool reset = false;
  for (;;) {
    UErrorCode error = U_ZERO_ERROR;
    char* const base = out.data();
    char* target = base + written;
    ucnv_convertEx(to, from, &target, base + out.size(), &source, in.data() + in.size(), pivot,
                   &pivotSource, &pivotTarget, pivot + 4096, reset, true, &error);
    written = static_cast<std::size_t>(target - base);
    if (error == U_BUFFER_OVERFLOW_ERROR) {
      out.Resize(out.size() * 2);
      continue;
    }
    if (U_FAILURE(error)) {
      out.Resize(start);
      return false;
    }
    break;
  }
  out.Resize(written);
  return true;
}

}  // namespace

bool CanConvert(uint32_t codePage) { return codePage == 65001 || ConverterFor(codePage) != nullptr; }

bool ToNarrow(uint32_t codePage, std::string_view bytes, ByteBuffer& out) {
  if (codePage == 65001) {
    AppendRepairedUtf8(bytes, out);
    return true;
  }
  UConverter* from = ConverterFor(codePage);
  UConverter* utf8 = Utf8Converter();
  if (!from || !utf8) return false;
  // No supported encoding takes more than three UTF-8 bytes per input byte.
  return Convert(utf8, from, bytes, out, 3);
}

bool FromNarrow(uint32_t codePage, std::string_view text, ByteBuffer& out) {
  if (codePage == 65001) {
    AppendRepairedUtf8(text, out);
    return true;
  }
  UConverter* to = ConverterFor(codePage);
  UConverter* utf8 = Utf8Converter();
  if (!to || !utf8) return false;
  return Convert(to, utf8, text, out, 2);
}

}  // namespace menuconv::platform
