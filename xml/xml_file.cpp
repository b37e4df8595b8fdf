#include "xml/xml_file.h"

#include <cstring>
#include <vector>

#include "platform/codepage.h"
#include "platform/file_io.h"
#include "xml/encodings.h"
#include "xml/utf8.h"

namespace menuconv {

namespace {

constexpr std::string_view kDeclarationStart = "<?xml version=\"1.0\" encoding=\"";
constexpr std::string_view kDeclarationEnd = "\" ?>";
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

void Indent(ByteBuffer& out, int depth) {
  out.Append("\r\n");
  const std::size_t n = static_cast<std::size_t>(depth) * 4;
  const std::size_t at = out.size();
  out.Resize(at + n);
  std::memset(out.data() + at, ' ', n);
}

// A value holding a double quote and no single quote goes between single quotes, so that the
// file reads back the same; every other value between double quotes, as it is.
void AppendAttribute(ByteBuffer& out, std::string_view name, std::string_view value) {
  const char quote =
      value.find('"') != std::string_view::npos && value.find('\'') == std::string_view::npos ? '\'' : '"';
  out.Append(' ');
  out.Append(name);
  out.Append('=');
  out.Append(quote);
  out.Append(value);
  out.Append(quote);
}

void AppendStartTag(const XmlDocument& doc, ElementRef e, int depth, ByteBuffer& out) {
  const ElementView view = doc.Element(e);
  Indent(out, depth);
  out.Append('<');
  out.Append(view.Name());
  view.ForEachAttribute([&out](std::string_view name, std::string_view value) {
    AppendAttribute(out, name, value);
  });
}

void AppendEndTag(const XmlDocument& doc, ElementRef e, int depth, ByteBuffer& out) {
  if (!doc.FirstChild(e).IsNone()) Indent(out, depth);
  out.Append("</");
  out.Append(doc.Element(e).Name());
  out.Append('>');
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
  if (document.codePage == 65001 && IsValidUtf8(bytes)) {
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

bool Save(XmlDocument& document, const std::string& path, std::string_view encodingName,
          std::string* reason) {
  std::string local;
  std::string& why = reason ? *reason : local;
  const uint32_t previousCodePage = document.codePage;
  if (encodingName.empty()) encodingName = "utf-8";
  if (const EncodingRow* row = FindEncodingByName(encodingName)) document.codePage = row->codePage;

  ByteBuffer file;
  file.Append(kDeclarationStart);
  file.Append(EncodingName(document));
  file.Append(kDeclarationEnd);
  if (document.codePage == 65001) {
    // The body is UTF-8 already: serialise it in place behind the declaration.
    const std::size_t bodyStart = file.size();
    SerializeDocument(document, file);
    if (!IsValidUtf8(std::string_view(file.data() + bodyStart, file.size() - bodyStart))) {
      ByteBuffer body;
      body.Append(std::string_view(file.data() + bodyStart, file.size() - bodyStart));
      file.Resize(bodyStart);
      ConvertFromAnsi(document, body.view(), file);
    }
  } else {
    ByteBuffer body;
    SerializeDocument(document, body);
    if (!ConvertFromAnsi(document, body.view(), file)) {
      why = "the code page " + std::to_string(document.codePage) + " cannot be converted";
      return false;
    }
  }
  file.Append('\0');
  if (!platform::WriteFileAtomically(path, {file.view()}, why)) {
    document.codePage = previousCodePage;
    return false;
  }
  return true;
}

}  // namespace menuconv
