// Windows code-page layer: MultiByteToWideChar and WideCharToMultiByte with flags 0, the
// ANSI code page (CP_ACP) on the narrow side. Buffers are sized by asking the functions for
// the length they need first, so only a code page the system cannot convert fails.
#include <windows.h>

#include <climits>
#include <string>

#include "base/utf8.h"
#include "platform/codepage.h"

namespace menuconv::platform {

namespace {

// `in` in code page `from` appended to `out` in code page `to`.
bool Convert(UINT from, UINT to, std::string_view in, ByteBuffer& out) {
  if (in.empty()) return from == CP_ACP || IsValidCodePage(from);
  if (in.size() > static_cast<std::size_t>(INT_MAX)) return false;
  const int inLength = static_cast<int>(in.size());
  const int units = MultiByteToWideChar(from, 0, in.data(), inLength, nullptr, 0);
  if (units <= 0) return false;
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  if (MultiByteToWideChar(from, 0, in.data(), inLength, wide.data(), units) != units) return false;
  const int bytes = WideCharToMultiByte(to, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return false;
  const std::size_t start = out.size();
  out.Resize(start + static_cast<std::size_t>(bytes));
  if (WideCharToMultiByte(to, 0, wide.data(), units, out.data() + start, bytes, nullptr, nullptr) != bytes) {
    out.Resize(start);
    return false;
  }
  return true;
}

}  // namespace

bool NarrowIsUtf8() { return false; }

// The system keeps its converters itself.
struct CodePageConverters::Kept {};

CodePageConverters::CodePageConverters() : kept_(std::make_unique<Kept>()) {}
CodePageConverters::~CodePageConverters() = default;

bool CodePageConverters::CanConvert(uint32_t codePage) { return IsValidCodePage(codePage) != 0; }

bool CodePageConverters::ToNarrow(uint32_t codePage, std::string_view bytes, ByteBuffer& out, DecodeFaults* faults) {
  if (faults && codePage == CP_UTF8) faults->count = CountInvalidUtf8(bytes, faults->first);
  return Convert(codePage, CP_ACP, bytes, out);
}

bool CodePageConverters::FromNarrow(uint32_t codePage, std::string_view text, ByteBuffer& out) {
  return Convert(CP_ACP, codePage, text, out);
}

}  // namespace menuconv::platform
