#include "xml/encodings.h"

#include "base/byte_scan.h"
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

std::optional<DeclaredEncoding> FindDeclaredEncoding(std::string_view fileBytes) {
  static constexpr std::string_view kMarker = "encoding=\"";
  const std::size_t marker = fileBytes.find(kMarker);
  if (marker == std::string_view::npos) return std::nullopt;
  const std::size_t from = marker + kMarker.size();
  const std::size_t quote = fileBytes.find('"', from);
  if (quote == std::string_view::npos) return std::nullopt;
  return DeclaredEncoding{fileBytes.substr(from, quote - from), from - 1};
}

std::string LoweredEncodingName(std::string_view name) {
  std::string lowered(name);
  for (char& c : lowered) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 0x20);
  }
  return lowered;
}

void DetectEncoding(XmlDocument& document, std::string_view fileBytes, std::string_view encodingName) {
  uint32_t codePage = code_page::kUtf8;
  std::string name = "windows-1251";
  if (!encodingName.empty()) {
    name = std::string(encodingName);
  } else if (const std::optional<DeclaredEncoding> declared = FindDeclaredEncoding(fileBytes)) {
    name = LoweredEncodingName(declared->name);
  }
  if (const EncodingRow* row = FindEncodingByName(name)) codePage = row->codePage;
  document.SetEncoding(Encoding{codePage});
}

bool DecodeToNarrow(platform::CodePageConverters& converters, const XmlDocument& document, std::string_view bytes,
                    ByteBuffer& out, platform::DecodeFaults* faults) {
  return converters.ToNarrow(document.GetEncoding().codePage, byte_scan::BeforeFirstZero(bytes), out, faults);
}

bool EncodeFromNarrow(platform::CodePageConverters& converters, const XmlDocument& document, std::string_view text,
                      ByteBuffer& out) {
  return converters.FromNarrow(document.GetEncoding().codePage, text, out);
}

Status UnconvertibleCodePage(uint32_t codePage) {
  return Status::Failure(StatusCode::kUnconvertible,
                         "the code page " + std::to_string(codePage) + " cannot be converted");
}

std::string EncodingName(const XmlDocument& document) {
  const EncodingRow* row = FindEncodingByCodePage(document.GetEncoding().codePage);
  return row ? std::string(row->name) : std::string();
}

}  // namespace menuconv
