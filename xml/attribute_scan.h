// Reading the attributes of a start tag whose attribute list the parser has already
// checked: the same rules as the parser, without the checks.
#pragma once

#include <cstdint>
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
    // Most attributes are written name="value". Those that lie whole in the 64 bytes from p
    // are read as the pairs of quotes in them, found at once: the next pair does not wait
    // for the attribute before it to be read, and an attribute is taken as it stands only
    // where the first "=" after its name stands right before the first quote of the pair.
    if (readable - p >= 64) {
      const char* const window = p;
      const byte_scan::WindowMarks marks = byte_scan::MarkWindow64(window);
      uint64_t quotes = marks.quotes;
      unsigned start = 0;  // the next name's place in the window, below 64
      while (quotes != 0) {
        const auto open = static_cast<unsigned>(__builtin_ctzll(quotes));
        quotes &= quotes - 1;
        if (quotes == 0) break;
        const auto close = static_cast<unsigned>(__builtin_ctzll(quotes));
        quotes &= quotes - 1;
        const uint64_t equals = marks.equals >> start << start;
        if (equals == 0 || static_cast<unsigned>(__builtin_ctzll(equals)) + 1 != open) break;
        const char* nameEnd = window + open - 1;
        while (nameEnd > p && IsXmlBlank(nameEnd[-1])) --nameEnd;
        fn(std::string_view(p, static_cast<std::size_t>(nameEnd - p)),
           std::string_view(window + open + 1, close - open - 1));
        p = window + close + 1;
        while (p < end && IsXmlBlank(*p)) ++p;
        if (p >= end) return;
        start = static_cast<unsigned>(p - window);
        if (start >= 64) break;
      }
      if (p != window) continue;  // a new window from the attribute that did not fit
    }
    // One attribute byte by byte. Names and values are short: plain loops beat library
    // searches here.
    const char* const nameStart = p;
    while (*p != '=') ++p;
    const char* nameEnd = p;
    while (*p != '"' && *p != '\'') ++p;
    const char quote = *p++;
    const char* const valueStart = p;
    while (*p != quote) ++p;
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
