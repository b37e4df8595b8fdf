// Reading the attributes of a start tag whose attribute list the parser has already
// checked: the same rules as the parser, without the checks.
#pragma once

#include <string_view>

#include "base/byte_scan.h"

namespace menuconv {

inline bool IsXmlBlank(char c) { return byte_scan::IsBlank(c); }

// Calls fn(name, value) for each attribute of a checked list, in the order written.
// The name is every byte before its "=", less the blanks that stand right before the "=".
// Bytes up to `readable` (at or after the end of the list) may be looked at in passing.
template <class Fn>
void ScanAttributeList(std::string_view list, const char* readable, Fn&& fn) {
  const char* p = list.data();
  const char* const end = p + list.size();
  while (p < end) {
    const char* nameStart = p;
    const char* nameEnd;
    const char* valueStart;
    const auto marks = byte_scan::ShortAttribute(p, readable);
    if (marks.close) {
      nameEnd = marks.equals;
      valueStart = marks.equals + 2;
      p = marks.close;
    } else {
      // Names and values are short: plain loops beat library searches here.
      while (*p != '=') ++p;
      nameEnd = p;
      while (*p != '"' && *p != '\'') ++p;
      const char quote = *p++;
      valueStart = p;
      while (*p != quote) ++p;
    }
    while (nameEnd > nameStart && IsXmlBlank(nameEnd[-1])) --nameEnd;
    fn(std::string_view(nameStart, static_cast<std::size_t>(nameEnd - nameStart)),
       std::string_view(valueStart, static_cast<std::size_t>(p - valueStart)));
    ++p;
    while (p < end && IsXmlBlank(*p)) ++p;
  }
}

template <class Fn>
void ScanAttributeList(std::string_view list, Fn&& fn) {
  ScanAttributeList(list, list.data() + list.size(), fn);
}

}  // namespace menuconv
