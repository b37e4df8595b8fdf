// Byte searches shared by the parser and the readers of checked attribute lists. Each search
// has a plain form, and with SSE2 a second form that looks at sixteen bytes per step and
// gives the same results; the names in byte_scan itself are the fastest form built.
//
// The searches take a char* or a const char* and give back a position of the same kind, so
// that a reader of a text it may change gets positions it may change.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#if defined(__SSE2__) && defined(__GNUC__)
#include <emmintrin.h>
#define MENUCONV_SSE2 1
#endif

namespace menuconv::byte_scan {

// Both tests as one range check and one bit test: they run for nearly every byte of a tag.
constexpr uint64_t kBlankBits = (1ull << ' ') | (1ull << '\t') | (1ull << '\r') | (1ull << '\n');
constexpr uint64_t kTagEndBits = (1ull << '/') | (1ull << '>') | (1ull << '?');

// The blanks of XML text: space, tab, carriage return, line feed.
inline bool IsBlank(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u < 64 && ((kBlankBits >> u) & 1) != 0;
}

inline bool IsTagEnd(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u < 64 && ((kTagEndBits >> u) & 1) != 0;
}

// The first c in [p, end), or nullptr.
template <class Char>
inline Char* Find(Char* p, const char* end, char c) {
  if (p >= end) return nullptr;
  const void* found = std::memchr(p, c, static_cast<std::size_t>(end - p));
  // The position found, as a pointer of p's kind.
  return found ? p + (static_cast<const char*>(found) - p) : nullptr;
}

// Eight bytes from p as one word, in the host's byte order.
inline uint64_t Load8(const char* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// Four bytes from p as one word, in the host's byte order.
inline uint32_t Load4(const char* p) {
  uint32_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// Asks for the cache line at `at` to be brought in ahead of its use; only a hint.
inline void Prefetch(const void* at) {
#if defined(__GNUC__)
  __builtin_prefetch(at);
#else
  (void)at;
#endif
}

// Whether a and b hold the same bytes. Names of four to sixteen bytes, as most tag and
// picture names are, are compared as two words each, overlapping where they are shorter than
// two: a call to memcmp for each cost more than the comparison.
inline bool SameBytes(std::string_view a, std::string_view b) {
  const std::size_t n = a.size();
  if (n != b.size()) return false;
  const char* const p = a.data();
  const char* const q = b.data();
  if (n >= 8 && n <= 16) return ((Load8(p) ^ Load8(q)) | (Load8(p + n - 8) ^ Load8(q + n - 8))) == 0;
  if (n >= 4 && n < 8) return ((Load4(p) ^ Load4(q)) | (Load4(p + n - 4) ^ Load4(q + n - 4))) == 0;
  return n == 0 || std::memcmp(p, q, n) == 0;
}

// The bytes before the first zero byte: a file's text ends there. (find, unlike memchr,
// takes the empty view of a null pointer.)
inline std::string_view BeforeFirstZero(std::string_view bytes) { return bytes.substr(0, bytes.find('\0')); }

// Whether the bytes hold c; short texts are looked at a word at a time.
inline bool Contains(const char* p, std::size_t n, char c) {
  auto holds = [c](uint64_t word) {
    const uint64_t x = word ^ (0x0101010101010101ull * static_cast<unsigned char>(c));
    return ((x - 0x0101010101010101ull) & ~x & 0x8080808080808080ull) != 0;
  };
  if (n > 16) return std::memchr(p, c, n) != nullptr;
  uint64_t a, b;
  if (n >= 8) {
    std::memcpy(&a, p, 8);
    std::memcpy(&b, p + n - 8, 8);
    return holds(a) || holds(b);
  }
  if (n >= 4) {
    uint32_t lo, hi;
    std::memcpy(&lo, p, 4);
    std::memcpy(&hi, p + n - 4, 4);
    return holds(uint64_t{lo} | uint64_t{hi} << 32);
  }
  for (std::size_t i = 0; i < n; ++i) {
    if (p[i] == c) return true;
  }
  return false;
}

// Where the text of an element ends: the first "<" at or after its start (nullptr when
// none), and whether the text is known to hold no blank, so that it stands as written.
template <class Char>
struct TextEnd {
  Char* lt;
  // The "<" lies among the sixteen bytes from the start, all before the end of the
  // document, and no blank comes before it. Most texts are such short words.
  bool blankFree;
};

// The "=" and the closing quote of a short attribute (see ShortAttribute).
template <class Char>
struct ShortAttributeMarks {
  Char* equals;
  Char* close;           // nullptr when the attribute is not that short
  bool suspect = false;  // asked for: the value holds "<" or a line feed
};

// Where the bytes that shape an attribute list stand in a window of 64 bytes: one bit per
// byte, bit i for the byte i bytes into the window.
struct WindowMarks {
  uint64_t equals = 0;  // "="
  uint64_t quotes = 0;  // '"'
};

// The plain forms, byte by byte.
namespace plain {

// The same as Find for distances that are mostly short, such as the names and values inside
// a start tag: the first sixteen bytes are looked at without a library call.
template <class Char>
inline Char* FindNear(Char* p, const char* end, char c) {
  for (const char* const stop = end - p > 16 ? p + 16 : end; p < stop; ++p) {
    if (*p == c) return p;
  }
  return Find(p, end, c);
}

// The end of the tag name that starts at p: the first blank, ">" or "/" right before ">" in
// [p, end), or nullptr.
template <class Char>
inline Char* FindNameEnd(Char* p, const char* end) {
  for (; p < end; ++p) {
    const char ch = *p;
    if (ch == '>' || (ch == '/' && p + 1 < end && p[1] == '>') || IsBlank(ch)) return p;
  }
  return nullptr;
}

// For the attribute that starts at p: when its first "=" is followed right away by '"' and
// the value closes within the 32 bytes from p (all before end), the "=" and the closing quote;
// otherwise the attribute is left to a byte-wise search. Most attributes are that short.
template <bool kCheckValue = false, class Char>
inline ShortAttributeMarks<Char> ShortAttribute(Char* p, const char* end) {
  if (end - p < 32) return {nullptr, nullptr};
  const char* const stop = p + 32;
  Char* eq = p;
  while (eq < stop && *eq != '=') ++eq;
  if (stop - eq < 3 || eq[1] != '"') return {nullptr, nullptr};
  Char* q = eq + 2;
  bool suspect = false;
  for (; q < stop && *q != '"'; ++q) suspect = suspect || (kCheckValue && (*q == '<' || *q == '\n'));
  if (q == stop) return {nullptr, nullptr};
  return {eq, q, suspect};
}

// The marks of the 64 bytes from p, all readable.
inline WindowMarks MarkWindow64(const char* p) {
  WindowMarks marks;
  for (unsigned i = 0; i < 64; ++i) {
    marks.equals |= uint64_t{p[i] == '='} << i;
    marks.quotes |= uint64_t{p[i] == '"'} << i;
  }
  return marks;
}

// The end of the element text that starts at p (see TextEnd).
template <class Char>
inline TextEnd<Char> FindTextEnd(Char* p, const char* end) {
  if (end - p < 16) return {Find(p, end, '<'), false};
  bool blank = false;
  for (Char* q = p; q < p + 16; ++q) {
    if (*q == '<') return {q, !blank};
    blank = blank || IsBlank(*q);
  }
  return {Find(p + 16, end, '<'), false};
}

// Length of the run of ASCII bytes at p, up to `end`: a word at a time.
inline std::size_t AsciiRun(const unsigned char* p, const unsigned char* end) {
  const unsigned char* q = p;
  while (end - q >= 8) {
    uint64_t word;
    std::memcpy(&word, q, 8);
    if (word & 0x8080808080808080ull) break;
    q += 8;
  }
  while (q < end && *q < 0x80) ++q;
  return static_cast<std::size_t>(q - p);
}

// How many "<" in [p, end) are followed by neither "/" nor "?": at least as many as the start
// tags, so that the element sequence can be sized once before parsing. Leaving out processing
// instructions, such as the declaration at the head of nearly every document, makes the count
// exact for most documents: the elements a second part of the parse reads then follow the
// first part's where they are, and are not moved down when the two are joined.
inline std::size_t CountStartTags(const char* p, const char* end) {
  std::size_t count = 0;
  for (; p < end; ++p) count += *p == '<' && (p + 1 == end || (p[1] != '/' && p[1] != '?'));
  return count;
}

}  // namespace plain

#ifdef MENUCONV_SSE2
// The same searches sixteen bytes at a time.
namespace sse2 {

inline __m128i Load16(const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// One bit per byte of v: the bytes equal to c.
inline unsigned Matches(__m128i v, char c) {
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(c))));
}

// One bit per byte of v: the blanks.
inline unsigned Blanks(__m128i v) {
  const __m128i blank =
      _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))),
                   _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\t')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\r'))));
  return static_cast<unsigned>(_mm_movemask_epi8(blank));
}

template <class Char>
inline Char* FindNear(Char* p, const char* end, char c) {
  if (end - p >= 16) {
    const unsigned hits = Matches(Load16(p), c);
    if (hits) return p + __builtin_ctz(hits);
    return Find(p + 16, end, c);
  }
  return Find(p, end, c);
}

template <class Char>
inline Char* FindNameEnd(Char* p, const char* end) {
  for (; end - p >= 16; p += 16) {
    const __m128i v = Load16(p);
    // A "/" counts only right before ">".
    unsigned stops = Blanks(v) | Matches(v, '>') | Matches(v, '/');
    for (; stops; stops &= stops - 1) {
      Char* const q = p + __builtin_ctz(stops);
      if (*q != '/' || (q + 1 < end && q[1] == '>')) return q;
    }
  }
  return plain::FindNameEnd(p, end);
}

template <bool kCheckValue = false, class Char>
inline ShortAttributeMarks<Char> ShortAttribute(Char* p, const char* end) {
  if (end - p < 32) return {nullptr, nullptr};
  const __m128i lo = Load16(p);
  const __m128i hi = Load16(p + 16);
  const unsigned eqs = Matches(lo, '=') | Matches(hi, '=') << 16;
  if (!eqs) return {nullptr, nullptr};
  const unsigned eq = static_cast<unsigned>(__builtin_ctz(eqs));
  if (eq >= 30 || p[eq + 1] != '"') return {nullptr, nullptr};
  // The quotes after the one that opens the value.
  const unsigned closes = (Matches(lo, '"') | Matches(hi, '"') << 16) & (~3u << eq);
  if (!closes) return {nullptr, nullptr};
  const unsigned close = static_cast<unsigned>(__builtin_ctz(closes));
  bool suspect = false;
  if (kCheckValue) {
    const unsigned marks = Matches(lo, '<') | Matches(lo, '\n') | (Matches(hi, '<') | Matches(hi, '\n')) << 16;
    suspect = (marks & (~3u << eq) & ((1u << close) - 1)) != 0;
  }
  return {p + eq, p + close, suspect};
}

template <class Char>
inline TextEnd<Char> FindTextEnd(Char* p, const char* end) {
  if (end - p < 16) return {Find(p, end, '<'), false};
  const __m128i v = Load16(p);
  const unsigned lts = Matches(v, '<');
  if (!lts) return {Find(p + 16, end, '<'), false};
  const unsigned before = (lts & (0u - lts)) - 1;  // the bytes before the first "<"
  return {p + __builtin_ctz(lts), (Blanks(v) & before) == 0};
}

inline WindowMarks MarkWindow64(const char* p) {
  const auto mask = [](__m128i matches) { return uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(matches))}; };
  WindowMarks marks;
  for (int i = 0; i < 4; ++i) {
    const __m128i v = Load16(p + 16 * i);
    marks.equals |= mask(_mm_cmpeq_epi8(v, _mm_set1_epi8('='))) << (16 * i);
    marks.quotes |= mask(_mm_cmpeq_epi8(v, _mm_set1_epi8('"'))) << (16 * i);
  }
  return marks;
}

// Sixty-four bytes per step while no high bit shows, then sixteen to find the first.
inline std::size_t AsciiRun(const unsigned char* p, const unsigned char* end) {
  const unsigned char* q = p;
  while (end - q >= 64) {
    const auto* v = reinterpret_cast<const __m128i*>(q);
    const __m128i any = _mm_or_si128(_mm_or_si128(_mm_loadu_si128(v), _mm_loadu_si128(v + 1)),
                                     _mm_or_si128(_mm_loadu_si128(v + 2), _mm_loadu_si128(v + 3)));
    if (_mm_movemask_epi8(any)) break;
    q += 64;
  }
  while (end - q >= 16) {
    const unsigned high =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q))));
    if (high) return static_cast<std::size_t>(q - p) + static_cast<std::size_t>(__builtin_ctz(high));
    q += 16;
  }
  while (q < end && *q < 0x80) ++q;
  return static_cast<std::size_t>(q - p);
}

// Sixty-four bytes per step: each group of sixteen is compared with "<", the sixteen after
// each of them with "/" and "?", and the matches are added to sixteen byte-wide counters,
// which are summed before any can overflow (plain SSE2 has no instruction that counts a
// mask's bits).
inline std::size_t CountStartTags(const char* p, const char* end) {
  const __m128i lt = _mm_set1_epi8('<');
  const __m128i slash = _mm_set1_epi8('/');
  const __m128i question = _mm_set1_epi8('?');
  // All ones (-1) for each "<" followed by neither "/" nor "?": subtracting it from a counter
  // adds one.
  auto opens = [&](const char* q) {
    const __m128i next = Load16(q + 1);
    return _mm_andnot_si128(_mm_or_si128(_mm_cmpeq_epi8(next, slash), _mm_cmpeq_epi8(next, question)),
                            _mm_cmpeq_epi8(Load16(q), lt));
  };
  std::size_t count = 0;
  while (end - p > 64) {
    __m128i counters = _mm_setzero_si128();
    // At most four matches per counter and step: 63 steps stay below 256.
    for (int steps = 0; end - p > 64 && steps < 63; p += 64, ++steps) {
      const __m128i a = _mm_add_epi8(opens(p), opens(p + 16));
      const __m128i b = _mm_add_epi8(opens(p + 32), opens(p + 48));
      counters = _mm_sub_epi8(counters, _mm_add_epi8(a, b));
    }
    const __m128i sums = _mm_sad_epu8(counters, _mm_setzero_si128());  // two sums of eight counters
    count += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) + static_cast<std::size_t>(_mm_extract_epi16(sums, 4));
  }
  return count + plain::CountStartTags(p, end);
}

}  // namespace sse2

using sse2::AsciiRun;
using sse2::CountStartTags;
using sse2::FindNameEnd;
using sse2::FindNear;
using sse2::FindTextEnd;
using sse2::MarkWindow64;
using sse2::ShortAttribute;
#else
using plain::AsciiRun;
using plain::CountStartTags;
using plain::FindNameEnd;
using plain::FindNear;
using plain::FindTextEnd;
using plain::MarkWindow64;
using plain::ShortAttribute;
#endif

// The "<" that CountStartTags counts, by blocks of a text, found by a pass that reads the
// whole text anyway (the UTF-8 check): the count of a stretch of the text then costs a look at
// the stretch's ends instead of a pass of its own.
struct StartTagCounts {
  static constexpr std::size_t kBlock = std::size_t{64} << 10;
  // Entry k: the "<" at positions [k kBlock - 1, (k + 1) kBlock - 1) of the text followed by
  // neither "/" nor "?" (each "<" is counted with the byte after it). The blocks counted are
  // the first ones; the rest of the text is counted when asked.
  std::vector<uint32_t> perBlock;

  // How many "<" before position `at` of `text` are followed by neither "/" nor "?"; `text`
  // is readable up to `readable`, at or past `at`.
  std::size_t Before(const char* text, std::size_t at, const char* readable) const {
    std::size_t count = 0;
    std::size_t from = 0;
    const std::size_t whole = std::min(perBlock.size(), (at + 1) / kBlock);
    for (std::size_t k = 0; k < whole; ++k) count += perBlock[k];
    if (whole > 0) from = whole * kBlock - 1;
    const char* const end = text + at;
    count += CountStartTags(text + from, end);
    // CountStartTags counts a "<" at its end whatever follows; here the byte after it decides.
    if (at > from && end[-1] == '<' && end < readable && (*end == '/' || *end == '?')) --count;
    return count;
  }
};

// Whether the bytes hold a (bit 0) and whether they hold b (bit 1), in one pass: the values an
// attribute's quote is chosen for are mostly longer than the word-wise Contains looks at.
inline unsigned HoldsWhich(const char* p, std::size_t n, char a, char b) {
#ifdef MENUCONV_SSE2
  if (n >= 16) {
    const __m128i wantA = _mm_set1_epi8(a);
    const __m128i wantB = _mm_set1_epi8(b);
    __m128i seenA = _mm_setzero_si128();
    __m128i seenB = _mm_setzero_si128();
    // The last sixteen bytes end the text, overlapping the block before them.
    for (std::size_t i = 0;; i += 16) {
      const __m128i v = sse2::Load16(p + std::min(i, n - 16));
      seenA = _mm_or_si128(seenA, _mm_cmpeq_epi8(v, wantA));
      seenB = _mm_or_si128(seenB, _mm_cmpeq_epi8(v, wantB));
      if (i + 16 >= n) break;
    }
    return unsigned{_mm_movemask_epi8(seenA) != 0} | unsigned{_mm_movemask_epi8(seenB) != 0} << 1;
  }
#endif
  return unsigned{Contains(p, n, a)} | unsigned{Contains(p, n, b)} << 1;
}

}  // namespace menuconv::byte_scan
