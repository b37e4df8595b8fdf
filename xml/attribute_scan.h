// Reading the attributes of a start tag whose attribute list the parser has already
// checked: the same rules as the parser, without the checks.
#pragma once

#include <string_view>

namespace menuconv {

inline bool IsXmlBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Calls fn(name, value) for each attribute of a checked list, in the order written.
// The name is every byte before its "=", less the blanks that stand right before the "=".
template <class Fn>
void ScanAttributeList(std::string_view list, Fn&& fn) {
  const char* p = list.data();
  const char* const end = p + list.size();
  while (p < end) {
    const char* nameStart = p;
    // Names and values are short: plain loops beat library searches here.
    while (*p != '=') ++p;
    const char* nameEnd = p;
    while (nameEnd > nameStart && IsXmlBlank(nameEnd[-1])) --nameEnd;
    while (*p != '"' && *p != '\'') ++p;
    const char quote = *p++;
    const char* valueStart = p;
    while (*p != quote) ++p;
    fn(std::string_view(nameStart, static_cast<std::size_t>(nameEnd - nameStart)),
       std::string_view(valueStart, static_cast<std::size_t>(p - valueStart)));
    ++p;
    while (p < end && IsXmlBlank(*p)) ++p;
  }
}

}  // namespace menuconv
