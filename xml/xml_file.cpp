#include "xml/xml_file.h"

#include <cstring>
#include <vector>

#include "platform/codepage.h"
#include "platform/file_io.h"
#include "base/byte_scan.h"
#include "xml/encodings.h"
#include "base/utf8.h"

namespace menuconv {

namespace {

constexpr std::string_view kDeclarationStart = "<?xml version=\"1.0\" encoding=\"";
constexpr std::string_view kDeclarationEnd = "\" ?>";
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

template <class ForEachAttribute>
void AppendStartTagWith(ByteBuffer& out, int depth, std::string_view name, ForEachAttribute&& forEach) {
  Indent(out, depth);
  out.Append('<');
  out.Append(name);
  forEach([&out](std::string_view attribute, std::string_view value) { AppendAttribute(out, attribute, value); });
}

void AppendStartTag(const XmlDocument& doc, ElementRef e, int depth, ByteBuffer& out) {
  const ElementView view = doc.Element(e);
  AppendStartTagWith(out, depth, view.Name(), [&view](auto&& fn) { view.ForEachAttribute(fn); });
}

void AppendEndTag(const XmlDocument& doc, ElementRef e, int depth, ByteBuffer& out) {
  AppendEndTag(out, depth, doc.Element(e).Name(), !doc.FirstChild(e).IsNone());
}

// Writes the subtree of `root` without recursion: deep documents must not exhaust the stack.
void SerializeSubtree(const XmlDocument& doc, ElementRef root, int rootDepth, ByteBuffer& out) {
  struct Open {
    ElementRef element;
    int depth;
  };
  std::vector<Open> open;
  ElementRef current = root;
  int depth = rootDepth;
  for (;;) {
    AppendStartTag(doc, current, depth, out);
    const ElementView view = doc.Element(current);
    const ElementRef child = view.FirstChild();
    if (view.Text().empty() && child.IsNone()) {
      out.Append("/>");
    } else {
      out.Append('>');
      out.Append(view.Text());
      if (!child.IsNone()) {
        open.push_back(Open{current, depth});
        current = child;
        ++depth;
        continue;
      }
      AppendEndTag(doc, current, depth, out);
    }
    // Move on to the next sibling, closing every element whose children are all written.
    for (;;) {
      if (open.empty()) return;  // `current` is the root
      const ElementRef next = doc.NextSibling(current);
      if (!next.IsNone()) {
        current = next;
        break;
      }
      current = open.back().element;
      depth = open.back().depth;
      open.pop_back();
      AppendEndTag(doc, current, depth, out);
    }
  }
}

}  // namespace

void Indent(ByteBuffer& out, int depth) {
  const std::size_t n = static_cast<std::size_t>(depth) * 4;
  char* at = out.Grow(2 + n);
  at[0] = '\r';
  at[1] = '\n';
  std::memset(at + 2, ' ', n);
}

// A value holding a double quote and no single quote goes between single quotes, so that the
// file reads back the same; every other value between double quotes, as it is.
void AppendAttribute(ByteBuffer& out, std::string_view name, std::string_view value) {
  const char quote = byte_scan::Contains(value.data(), value.size(), '"') &&
                             !byte_scan::Contains(value.data(), value.size(), '\'')
                         ? '\''
                         : '"';
  char* at = out.Grow(name.size() + value.size() + 4);
  *at++ = ' ';
  ByteBuffer::Copy(at, name.data(), name.size());
  at += name.size();
  *at++ = '=';
  *at++ = quote;
  ByteBuffer::Copy(at, value.data(), value.size());
  at += value.size();
  *at = quote;
}

void AppendStartTag(ByteBuffer& out, int depth, std::string_view name, const AttributeStore& attributes) {
  AppendStartTagWith(out, depth, name, [&attributes](auto&& fn) { attributes.ForEach(fn); });
}

void AppendEndTag(ByteBuffer& out, int depth, std::string_view name, bool hasChildren) {
  if (hasChildren) Indent(out, depth);
  out.Append("</");
  out.Append(name);
  out.Append('>');
}

void SerializeDocument(const XmlDocument& document, ByteBuffer& out) {
  out.Reserve(out.size() + document.ApproximateTextSize());
  for (ElementRef e = document.FirstElement(); !e.IsNone(); e = document.NextSibling(e)) {
    SerializeSubtree(document, e, 0, out);
  }
}

std::string SerializeDocument(const XmlDocument& document) {
  ByteBuffer out;
  SerializeDocument(document, out);
  return std::string(out.view());
}

std::string SerializeElement(const XmlDocument& document, ElementRef& position, int depth) {
  ByteBuffer out;
  SerializeSubtree(document, position, depth, out);
  position = document.NextSibling(position);
  return std::string(out.view());
}

bool Load(XmlDocument& document, const std::string& path, std::string_view encodingName,
          LoadStatus* status) {
  LoadStatus local;
  LoadStatus& result = status ? *status : local;
  result = LoadStatus{};
  document.Clear();

  ByteBuffer raw;
  if (!platform::ReadWholeFile(path, raw, result.reason, 0xFFFFFFF0u)) return false;
  if (raw.empty()) {
    result.reason = "the file is empty";
    return false;
  }
  std::string_view bytes = raw.view();
  // A file that starts with the UTF-8 mark is UTF-8, whatever it declares, unless the
  // caller names the encoding; the mark itself is not part of the text.
  const bool marked = encodingName.empty() && bytes.substr(0, 3) == kUtf8Mark;
  if (marked) {
    document.codePage = 65001;
    bytes.remove_prefix(3);
  } else {
    DetectEncoding(document, bytes, encodingName);
  }
  if (const void* zero = std::memchr(bytes.data(), 0, bytes.size())) {
    bytes = bytes.substr(0, static_cast<std::size_t>(static_cast<const char*>(zero) - bytes.data()));
  }

  ByteBuffer text;
  if (document.codePage == 65001 && IsValidUtf8InHalves(bytes)) {
    // Well-formed UTF-8 is already the text held in memory: keep the buffer.
    const std::size_t offset = static_cast<std::size_t>(bytes.data() - raw.data());
    const std::size_t length = bytes.size();
    if (offset != 0) std::memmove(raw.data(), raw.data() + offset, length);
    raw.Resize(length);
    text = std::move(raw);
  } else {
    if (!ConvertToAnsi(document, bytes, text)) {
      result.reason = "the code page " + std::to_string(document.codePage) + " cannot be converted";
      return false;
    }
    raw.Clear();
  }
  // The parser's text ends with the terminating zero byte.
  text.Append('\0');
  text.ShrinkToFit();
  const uint32_t codePage = document.codePage;
  result.parse = ParseDocument(document, std::move(text));
  document.codePage = codePage;
  return true;
}

std::string SaveDeclaration(std::string_view encodingName, uint32_t& codePage) {
  if (encodingName.empty()) encodingName = "utf-8";
  if (const EncodingRow* row = FindEncodingByName(encodingName)) codePage = row->codePage;
  const EncodingRow* declared = FindEncodingByCodePage(codePage);
  std::string declaration(kDeclarationStart);
  declaration += declared ? declared->name : std::string_view();
  declaration += kDeclarationEnd;
  return declaration;
}

bool SaveText(const ByteBuffer& text, uint32_t& codePage, const std::string& path,
              std::string_view encodingName, std::string* reason) {
  return SaveText(std::vector<std::string_view>{text.view()}, codePage, path, encodingName, reason);
}

bool SaveText(const std::vector<std::string_view>& parts, uint32_t& codePage, const std::string& path,
              std::string_view encodingName, std::string* reason) {
  std::string local;
  std::string& why = reason ? *reason : local;
  const uint32_t previousCodePage = codePage;
  const std::string declaration = SaveDeclaration(encodingName, codePage);

  // Well-formed UTF-8 is written as it is; anything else goes through the code page, whole.
  std::vector<std::string_view> pieces{declaration};
  bool asItIs = codePage == 65001;
  for (std::size_t i = 0; asItIs && i < parts.size(); ++i) asItIs = IsValidUtf8(parts[i]);
  ByteBuffer converted;
  if (asItIs) {
    pieces.insert(pieces.end(), parts.begin(), parts.end());
  } else {
    ByteBuffer joined;
    std::string_view body;
    if (parts.size() == 1) {
      body = parts.front();
    } else {
      for (std::string_view part : parts) joined.Append(part);
      body = joined.view();
    }
    if (!platform::FromNarrow(codePage, body, converted)) {
      why = "the code page " + std::to_string(codePage) + " cannot be converted";
      return false;
    }
    pieces.push_back(converted.view());
  }
  pieces.push_back(std::string_view("\0", 1));
  if (!platform::WriteFileAtomically(path, pieces, why)) {
    codePage = previousCodePage;
    return false;
  }
  return true;
}

bool Save(XmlDocument& document, const std::string& path, std::string_view encodingName,
          std::string* reason) {
  ByteBuffer body;
  SerializeDocument(document, body);
  return SaveText(body, document.codePage, path, encodingName, reason);
}

}  // namespace menuconv
