// The ten supported file encodings, the choice of a document's code page while it is
// loaded, and the conversion between a file's code page and the text held in memory.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/byte_buffer.h"
#include "platform/codepage.h"
#include "xml/xml_document.h"

namespace menuconv {

struct EncodingRow {
  std::string_view name;
  uint32_t codePage;
};

inline constexpr std::array<EncodingRow, 10> EncodingTable{{
    {"utf-8", code_page::kUtf8},
    {"utf-7", code_page::kUtf7},
    {"windows-1250", code_page::kWindows1250},
    {"windows-1251", code_page::kWindows1251},
    {"windows-1252", code_page::kWindows1252},
    {"windows-1253", code_page::kWindows1253},
    {"windows-1254", code_page::kWindows1254},
    {"shift_jis", code_page::kShiftJis},
    {"csISO2022JP", code_page::kIso2022Jp},
    {"iso-2022-kr", code_page::kIso2022Kr},
}};

// First row with exactly this name (case-sensitive), or nullptr.
const EncodingRow* FindEncodingByName(std::string_view name);
// First row with this code page, or nullptr.
const EncodingRow* FindEncodingByCodePage(uint32_t codePage);

// The encoding name a file declares: the bytes between the first `encoding="` anywhere in
// it and the next double quote, as written; `at` is the offset of the opening quote.
struct DeclaredEncoding {
  std::string_view name;
  std::size_t at = 0;
};
// None when the file declares no encoding.
std::optional<DeclaredEncoding> FindDeclaredEncoding(std::string_view fileBytes);

// The declared name as it is looked up: capitals lowered.
std::string LoweredEncodingName(std::string_view name);

// Chooses the document's code page: the caller's encoding name when given, else the name
// declared in the file (the first `encoding="` anywhere in it, capitals lowered), else
// windows-1251; a name in no row gives utf-8.
void DetectEncoding(XmlDocument& document, std::string_view fileBytes, std::string_view encodingName);

// File bytes (up to their first zero byte) in the document's code page, appended to `out` as
// narrow text; the sequences invalid in the code page are counted in `faults` where the
// platform tells them. False only when the code page cannot be converted.
bool DecodeToNarrow(platform::CodePageConverters& converters, const XmlDocument& document, std::string_view bytes,
                    ByteBuffer& out, platform::DecodeFaults* faults = nullptr);

// Narrow text appended to `out` in the document's code page. False only when the code page
// cannot be converted.
bool EncodeFromNarrow(platform::CodePageConverters& converters, const XmlDocument& document, std::string_view text,
                      ByteBuffer& out);

// The failure of a conversion that the platform cannot do for the code page.
Status UnconvertibleCodePage(uint32_t codePage);

// The name of the first row with the document's code page; empty when there is none.
std::string EncodingName(const XmlDocument& document);

}  // namespace menuconv
