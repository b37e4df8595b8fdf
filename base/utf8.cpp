#include "base/utf8.h"

#include <cstdint>
#include <cstring>

#include "base/byte_scan.h"

namespace menuconv {

namespace {

// Length of the well-formed sequence at p (2 to 4 bytes; p[0] is not ASCII), or 0 when
// ill-formed; `subpart` is then the length of its maximal ill-formed subpart (at least 1).
std::size_t SequenceLength(const unsigned char* p, const unsigned char* end, std::size_t& subpart) {
  const Utf8Lead lead = Utf8LeadOf(p[0]);
  if (lead.length < 2) {
    subpart = 1;
    return 0;
  }
  std::size_t i = 1;
  for (; i < lead.length; ++i) {
    if (p + i >= end) break;
    const unsigned char c = p[i];
    const bool ok = i == 1 ? (c >= lead.secondLow && c <= lead.secondHigh) : IsUtf8Continuation(c);
    if (!ok) break;
  }
  if (i == lead.length) return lead.length;
  subpart = i;
  return 0;
}

}  // namespace

std::size_t FindInvalidUtf8(std::string_view text) {
  const auto* const begin = reinterpret_cast<const unsigned char*>(text.data());
  const auto* const end = begin + text.size();
  const auto* p = begin;
  for (;;) {
    p += byte_scan::AsciiRun(p, end);
    if (p == end) break;
    // A run of non-ASCII characters: the common two- and three-byte forms are checked
    // inline, the rest (and every ill-formed case) by SequenceLength.
    do {
      const Utf8Lead lead = Utf8LeadOf(*p);
      const std::ptrdiff_t left = end - p;
      if (lead.length == 2 && left >= 2 && IsUtf8Continuation(p[1])) {
        p += 2;
      } else if (lead.length == 3 && left >= 3 && p[1] >= lead.secondLow && p[1] <= lead.secondHigh &&
                 IsUtf8Continuation(p[2])) {
        p += 3;
      } else {
        std::size_t subpart = 0;
        const std::size_t n = SequenceLength(p, end, subpart);
        if (n == 0) return static_cast<std::size_t>(p - begin);
        p += n;
      }
    } while (p < end && *p >= 0x80);
  }
  return std::string_view::npos;
}

void AppendRepairedUtf8(std::string_view text, ByteBuffer& out) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  out.Reserve(out.size() + text.size());
  while (!text.empty()) {
    const std::size_t bad = FindInvalidUtf8(text);
    if (bad == std::string_view::npos) {
      out.Append(text);
      return;
    }
    out.Append(text.substr(0, bad));
    const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + bad;
    std::size_t subpart = 1;
    SequenceLength(p, reinterpret_cast<const unsigned char*>(text.data() + text.size()), subpart);
    out.Append(kReplacement);
    text.remove_prefix(bad + subpart);
  }
}

std::size_t IncompleteUtf8Tail(std::string_view text) {
  const std::size_t size = text.size();
  for (std::size_t back = 1; back <= 3 && back <= size; ++back) {
    const auto first = static_cast<unsigned char>(text[size - back]);
    if (IsUtf8Continuation(first)) continue;  // the lead is further back
    const Utf8Lead lead = Utf8LeadOf(first);
    if (lead.length <= back) return 0;  // complete, or no lead byte at all
    if (back >= 2) {
      const auto second = static_cast<unsigned char>(text[size - back + 1]);
      if (second < lead.secondLow || second > lead.secondHigh) return 0;
    }
    return back;
  }
  return 0;
}

std::size_t CountInvalidUtf8(std::string_view text, std::size_t& first) {
  first = std::string_view::npos;
  std::size_t count = 0;
  std::size_t done = 0;
  while (done < text.size()) {
    const std::size_t bad = FindInvalidUtf8(text.substr(done));
    if (bad == std::string_view::npos) break;
    if (count++ == 0) first = done + bad;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + done + bad;
    std::size_t subpart = 1;
    SequenceLength(p, reinterpret_cast<const unsigned char*>(text.data() + text.size()), subpart);
    done += bad + subpart;
  }
  return count;
}

}  // namespace menuconv
