#include "xml/encodings.h"

#include "platform/codepage.h"

namespace menuconv {

const EncodingRow* FindEncodingByName(std::string_view name) {
  for (const EncodingRow& row : EncodingTable) {
    if (row.name == name) return &row;
  }
  return nullptr;
}

const EncodingRow* FindEncodingByCodePage(uint32_t codePage) {
  for (const EncodingRow& row : EncodingTable) {
    if (row.codePage == codePage) return &row;
  }
  return nullptr;
}

void DetectEncoding(XmlDocument& document, std::string_view fileBytes, std::string_view encodingName) {
  document.codePage = 65001;
  std::string name = "windows-1251";
  if (!encodingName.empty()) {
    name = std::string(encodingName);
  } else {
    static constexpr std::string_view kMarker = "encoding=\"";
    const std::size_t at = fileBytes.find(kMarker);
    if (at != std::string_view::npos) {
      const std::size_t from = at + kMarker.size();
      const std::size_t quote = fileBytes.find('"', from);
      if (quote != std::string_view::npos) {
        name.assign(fileBytes.substr(from, quote - from));
        for (char& c : name) {
          if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 0x20);
        }
      }
    }
  }
  if (const EncodingRow* row = FindEncodingByName(name)) document.codePage = row->codePage;
}

bool ConvertToAnsi(const XmlDocument& document, std::string_view bytes, ByteBuffer& out) {
  // Only the bytes before the first zero byte are text. (find, unlike memchr, takes the
  // empty view of a null pointer.)
  bytes = bytes.substr(0, bytes.find('\0'));
  return platform::ToNarrow(document.codePage, bytes, out);
}

bool ConvertFromAnsi(const XmlDocument& document, std::string_view text, ByteBuffer& out) {
  return platform::FromNarrow(document.codePage, text, out);
}

std::string EncodingName(const XmlDocument& document) {
  const EncodingRow* row = FindEncodingByCodePage(document.codePage);
  return row ? std::string(row->name) : std::string();
}

bool RoundTripsExactly(uint32_t codePage) {
  // The single-byte code pages of the encoding table; each byte is a character of its own,
  // so that one pass over all of them tells.
  if (codePage < 1250 || codePage > 1254) return false;
  char every[255];
  for (int i = 0; i < 255; ++i) every[i] = static_cast<char>(i + 1);
  const std::string_view bytes(every, sizeof every);
  ByteBuffer narrow, back;
  return platform::ToNarrow(codePage, bytes, narrow) && platform::FromNarrow(codePage, narrow.view(), back) &&
         back.view() == bytes;
}

std::string NarrowText(const XmlDocument& document, std::string_view text) {
  if (document.textCodePage == 0) return std::string(text);
  ByteBuffer narrow;
  if (!platform::ToNarrow(document.textCodePage, text, narrow)) return std::string(text);
  return std::string(narrow.view());
}

}  // namespace menuconv
