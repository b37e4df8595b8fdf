#include "base/utf8.h"

#include <cstdint>
#include <cstring>

#include "base/byte_scan.h"

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define MENUCONV_UTF8_AVX2
#endif

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

#ifdef MENUCONV_UTF8_AVX2
// Checks 32 bytes per step with AVX2 (Keiser and Lemire's method). Each pair of adjacent bytes
// is looked up by the high and low half of its first byte and the high half of its second, each
// lookup giving the faults the pair may show; the pair shows those all three agree on. The one
// fault no pair shows, a continuation byte missing where a lead two or three bytes back asks
// for one, is told apart by the byte two or three back: two continuations in a row are a fault
// (kTwoContinuations) exactly where no such lead asks for the second.
namespace avx2 {

constexpr uint8_t kShort = 1 << 0;                // a lead, then no continuation
constexpr uint8_t kLong = 1 << 1;                 // ASCII, then a continuation
constexpr uint8_t kOverlong3 = 1 << 2;            // E0, then 80..9F
constexpr uint8_t kTooLarge = 1 << 3;             // F4..FF, then 90..BF
constexpr uint8_t kSurrogate = 1 << 4;            // ED, then A0..BF
constexpr uint8_t kOverlong2 = 1 << 5;            // C0 or C1, then a continuation
constexpr uint8_t kOverlong4OrTooLarge = 1 << 6;  // F0 or F5..FF, then 80..8F
constexpr uint8_t kTwoContinuations = 1 << 7;     // 80..BF, then 80..BF
// Faults told by the high halves alone: every low half of the first byte allows them.
constexpr uint8_t kAnyLow = kShort | kLong | kTwoContinuations;

__attribute__((target("avx2"))) inline __m256i Table(const uint8_t (&t)[16]) {
  return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t)));
}

// The bytes of `now`, each with the byte `n` places before it, the first ones from `before`.
template <int n>
__attribute__((target("avx2"))) inline __m256i Earlier(__m256i now, __m256i before) {
  return _mm256_alignr_epi8(now, _mm256_permute2x128_si256(before, now, 0x21), 16 - n);
}

// Offset of the 32-byte block in which a fault was first seen, or `blocks * 32` when none
// was. A fault seen in a block lies in it or in the three bytes before it; a sequence cut by
// the end of the last block is left to the caller. With kStopAtZero a zero byte counts as a
// fault too, so that a text that ends at its first zero byte is checked in the same pass.
// With a `startTags` array, the pass also counts the "<" followed by neither "/" nor "?" of
// each StartTagCounts block before the fault, into its entries, one per block (the bytes are
// in registers already: a pass of its own to count them took half as long as the check).
// Without kCheckUtf8, only a zero byte is a fault: the same pass for a text not to be checked.
template <bool kStopAtZero, bool kCheckUtf8 = true>
__attribute__((target("avx2"))) std::size_t FirstFaultyBlock(const unsigned char* p, std::size_t blocks,
                                                             uint32_t* startTags = nullptr) {
  // A row per range of bytes.
  // clang-format off
  static constexpr uint8_t kFirstHigh[16] = {
      kLong, kLong, kLong, kLong, kLong, kLong, kLong, kLong,                      // ASCII
      kTwoContinuations, kTwoContinuations, kTwoContinuations, kTwoContinuations,  // 80..BF
      kShort | kOverlong2,                                                         // C0..CF
      kShort,                                                                      // D0..DF
      kShort | kOverlong3 | kSurrogate,                                            // E0..EF
      kShort | kTooLarge | kOverlong4OrTooLarge};                                  // F0..FF
  constexpr uint8_t kHighLeads = kAnyLow | kTooLarge | kOverlong4OrTooLarge;      // F5..FF
  static constexpr uint8_t kFirstLow[16] = {
      kAnyLow | kOverlong2 | kOverlong3 | kOverlong4OrTooLarge,  // C0, E0, F0
      kAnyLow | kOverlong2,                                      // C1
      kAnyLow, kAnyLow,
      kAnyLow | kTooLarge,                                       // F4
      kHighLeads, kHighLeads, kHighLeads, kHighLeads, kHighLeads, kHighLeads, kHighLeads, kHighLeads,
      kHighLeads | kSurrogate,                                   // ED
      kHighLeads, kHighLeads};
  constexpr uint8_t kContinuation = kLong | kTwoContinuations | kOverlong2;
  static constexpr uint8_t kSecondHigh[16] = {
      kShort, kShort, kShort, kShort, kShort, kShort, kShort, kShort,  // ASCII
      kContinuation | kOverlong3 | kOverlong4OrTooLarge,               // 80..8F
      kContinuation | kOverlong3 | kTooLarge,                          // 90..9F
      kContinuation | kSurrogate | kTooLarge,                          // A0..AF
      kContinuation | kSurrogate | kTooLarge,                          // B0..BF
      kShort, kShort, kShort, kShort};                                 // leads
  // clang-format on
  const __m256i firstHigh = Table(kFirstHigh);
  const __m256i firstLow = Table(kFirstLow);
  const __m256i secondHigh = Table(kSecondHigh);
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  __m256i before = _mm256_setzero_si256();
  constexpr std::size_t kCountedBlock = byte_scan::StartTagCounts::kBlock / 32;  // in blocks of 32
  uint32_t opened = 0;  // "<" counted in the current StartTagCounts block
  // Every block is checked whole: skipping the ASCII ones costs more in mispredicted branches
  // where ASCII and other text alternate, as in a document's texts, than it saves.
  for (std::size_t block = 0; block < blocks; ++block) {
    const __m256i now = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * block));
    const __m256i prev1 = Earlier<1>(now, before);
    const __m256i pairs = _mm256_and_si256(
        _mm256_and_si256(_mm256_shuffle_epi8(firstHigh, _mm256_and_si256(_mm256_srli_epi16(prev1, 4), nibble)),
                         _mm256_shuffle_epi8(firstLow, _mm256_and_si256(prev1, nibble))),
        _mm256_shuffle_epi8(secondHigh, _mm256_and_si256(_mm256_srli_epi16(now, 4), nibble)));
    // Bit 7 where a lead two or three bytes back (E0 and up, F0 and up) asks for a continuation.
    const __m256i asked = _mm256_and_si256(
        _mm256_or_si256(_mm256_subs_epu8(Earlier<2>(now, before), _mm256_set1_epi8(static_cast<char>(0xE0 - 0x80))),
                        _mm256_subs_epu8(Earlier<3>(now, before), _mm256_set1_epi8(static_cast<char>(0xF0 - 0x80)))),
        _mm256_set1_epi8(static_cast<char>(0x80)));
    __m256i faults = kCheckUtf8 ? _mm256_xor_si256(pairs, asked) : _mm256_setzero_si256();
    if (kStopAtZero) faults = _mm256_or_si256(faults, _mm256_cmpeq_epi8(now, _mm256_setzero_si256()));
    if (!_mm256_testz_si256(faults, faults)) return 32 * block;
    if (startTags) {
      // Each "<" one byte back, counted with the byte after it.
      const __m256i closing =
          _mm256_or_si256(_mm256_cmpeq_epi8(now, _mm256_set1_epi8('/')), _mm256_cmpeq_epi8(now, _mm256_set1_epi8('?')));
      const __m256i opens = _mm256_andnot_si256(closing, _mm256_cmpeq_epi8(prev1, _mm256_set1_epi8('<')));
      opened += static_cast<uint32_t>(__builtin_popcount(static_cast<unsigned>(_mm256_movemask_epi8(opens))));
      if ((block + 1) % kCountedBlock == 0) {
        startTags[block / kCountedBlock] = opened;
        opened = 0;
      }
    }
    before = now;
  }
  return 32 * blocks;
}

bool Usable() {
  static const bool usable = __builtin_cpu_supports("avx2");
  return usable;
}

}  // namespace avx2
#endif

// Position of the first ill-formed sequence, one byte at a time, with ASCII in blocks.
std::size_t FindInvalidUtf8Plain(std::string_view text) {
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

// The offset of the block where the AVX2 pass saw a fault, or of the end of the last whole
// block; npos where the pass does not run. `startTags`, if any, gets the counts of the blocks
// the pass went through.
template <bool kStopAtZero, bool kCheckUtf8 = true>
std::size_t FastPassEnd(std::string_view text, byte_scan::StartTagCounts* startTags) {
  if (startTags) startTags->perBlock.clear();
#ifdef MENUCONV_UTF8_AVX2
  if (text.size() >= 64 && avx2::Usable()) {
    uint32_t* counts = nullptr;
    if (startTags) {
      startTags->perBlock.resize(text.size() / byte_scan::StartTagCounts::kBlock);
      counts = startTags->perBlock.data();
    }
    const auto* const begin = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t end = avx2::FirstFaultyBlock<kStopAtZero, kCheckUtf8>(begin, text.size() / 32, counts);
    if (startTags) startTags->perBlock.resize(end / byte_scan::StartTagCounts::kBlock);
    return end;
  }
#endif
  return std::string_view::npos;
}

// Where the plain check takes over: the start of the sequence that holds the three bytes
// before the block where the AVX2 pass saw a fault (or stopped), or the start of the text.
// `startTags`, if any, gets the counts of the blocks the AVX2 pass went through.
template <bool kStopAtZero>
std::size_t PlainCheckFrom(std::string_view text, byte_scan::StartTagCounts* startTags = nullptr) {
  std::size_t from = FastPassEnd<kStopAtZero>(text, startTags);
  if (from != std::string_view::npos) {
    const auto* const begin = reinterpret_cast<const unsigned char*>(text.data());
    // Up to the block where a fault was seen, or the end of the last whole block, the text is
    // well-formed but for the three bytes before it.
    from = from < 4 ? 0 : from - 4;
    while (from > 0 && IsUtf8Continuation(begin[from])) --from;
    return from;
  }
  return 0;
}

}  // namespace

std::size_t FindInvalidUtf8(std::string_view text) {
  const std::size_t from = PlainCheckFrom<false>(text);
  const std::size_t found = FindInvalidUtf8Plain(text.substr(from));
  return found == std::string_view::npos ? found : from + found;
}

std::size_t SizeUpToZero(std::string_view bytes, byte_scan::StartTagCounts& startTags) {
  // Every block before `end` holds no zero byte.
  const std::size_t end = FastPassEnd<true, false>(bytes, &startTags);
  const std::size_t zero = bytes.find('\0', end == std::string_view::npos ? 0 : end);
  return zero == std::string_view::npos ? bytes.size() : zero;
}

Utf8UpToZero CheckUtf8UpToZero(std::string_view bytes, byte_scan::StartTagCounts* startTags) {
  // Every block before `from` is well-formed and holds no zero byte.
  const std::size_t from = PlainCheckFrom<true>(bytes, startTags);
  const std::size_t zero = bytes.find('\0', from);
  const std::size_t size = zero == std::string_view::npos ? bytes.size() : zero;
  return Utf8UpToZero{size, FindInvalidUtf8Plain(bytes.substr(from, size - from)) == std::string_view::npos};
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
