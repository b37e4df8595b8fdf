// Byte searches shared by the parser and the readers of checked attribute lists. With SSE2
// they look at sixteen bytes per step; the plain forms give the same results.
#pragma once

#include <cstdint>
#include <cstddef>
#include <cstring>

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

inline const char* Find(const char* p, const char* end, char c) {
  return p < end ? static_cast<const char*>(std::memchr(p, c, static_cast<std::size_t>(end - p))) : nullptr;
}

#ifdef MENUCONV_SSE2
inline __m128i Load16(const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// One bit per byte of v: the bytes equal to c.
inline unsigned Matches(__m128i v, char c) {
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(c))));
}

// One bit per byte of v: the blanks.
inline unsigned Blanks(__m128i v) {
  const __m128i blank = _mm_or_si128(
      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))),
      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\t')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\r'))));
  return static_cast<unsigned>(_mm_movemask_epi8(blank));
}

// For the attribute that starts at p: when its "=" is followed right away by '"' and the
// value closes within the 32 bytes from p, gives the "=" and the closing quote; false
// leaves the attribute to the byte-wise search. Most attributes are that short. The 32
// bytes from p must be readable.
inline bool ShortAttribute(const char* p, const char*& equals, const char*& close) {
  const __m128i lo = Load16(p);
  const __m128i hi = Load16(p + 16);
  const unsigned eqs = Matches(lo, '=') | Matches(hi, '=') << 16;
  if (!eqs) return false;
  const unsigned eq = static_cast<unsigned>(__builtin_ctz(eqs));
  if (eq >= 30 || p[eq + 1] != '"') return false;
  const unsigned closes = (Matches(lo, '"') | Matches(hi, '"') << 16) >> (eq + 2);
  if (!closes) return false;
  equals = p + eq;
  close = p + eq + 2 + __builtin_ctz(closes);
  return true;
}
#endif

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

// The same as Find for distances that are mostly short, such as the names and values inside
// a start tag: the first sixteen bytes are looked at without a library call.
inline const char* FindNear(const char* p, const char* end, char c) {
#ifdef MENUCONV_SSE2
  if (end - p >= 16) {
    const unsigned hits = Matches(Load16(p), c);
    if (hits) return p + __builtin_ctz(hits);
    return Find(p + 16, end, c);
  }
#else
  for (const char* const stop = end - p > 16 ? p + 16 : end; p < stop; ++p) {
    if (*p == c) return p;
  }
#endif
  return Find(p, end, c);
}

}  // namespace menuconv::byte_scan
