#include "base/utf8.h"

#include <algorithm>
#include <atomic>
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
// Checks 32 bytes per step with AVX2, or 64 with AVX-512BW (Keiser and Lemire's method). Each
// pair of adjacent bytes is looked up by the high and low half of its first byte and the high
// half of its second, each lookup giving the faults the pair may show; the pair shows those all
// three agree on. The one fault no pair shows, a continuation byte missing where a lead two or
// three bytes back asks for one, is told apart by the byte two or three back: two continuations
// in a row are a fault (kTwoContinuations) exactly where no such lead asks for the second.
namespace vectors {

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

// A row per range of bytes.
// clang-format off
constexpr uint8_t kFirstHigh[16] = {
    kLong, kLong, kLong, kLong, kLong, kLong, kLong, kLong,                      // ASCII
    kTwoContinuations, kTwoContinuations, kTwoContinuations, kTwoContinuations,  // 80..BF
    kShort | kOverlong2,                                                         // C0..CF
    kShort,                                                                      // D0..DF
    kShort | kOverlong3 | kSurrogate,                                            // E0..EF
    kShort | kTooLarge | kOverlong4OrTooLarge};                                  // F0..FF
constexpr uint8_t kHighLeads = kAnyLow | kTooLarge | kOverlong4OrTooLarge;      // F5..FF
constexpr uint8_t kFirstLow[16] = {
    kAnyLow | kOverlong2 | kOverlong3 | kOverlong4OrTooLarge,  // C0, E0, F0
    kAnyLow | kOverlong2,                                      // C1
    kAnyLow, kAnyLow,
    kAnyLow | kTooLarge,                                       // F4
    kHighLeads, kHighLeads, kHighLeads, kHighLeads, kHighLeads, kHighLeads, kHighLeads, kHighLeads,
    kHighLeads | kSurrogate,                                   // ED
    kHighLeads, kHighLeads};
constexpr uint8_t kContinuation = kLong | kTwoContinuations | kOverlong2;
constexpr uint8_t kSecondHigh[16] = {
    kShort, kShort, kShort, kShort, kShort, kShort, kShort, kShort,  // ASCII
    kContinuation | kOverlong3 | kOverlong4OrTooLarge,               // 80..8F
    kContinuation | kOverlong3 | kTooLarge,                          // 90..9F
    kContinuation | kSurrogate | kTooLarge,                          // A0..AF
    kContinuation | kSurrogate | kTooLarge,                          // B0..BF
    kShort, kShort, kShort, kShort};                                 // leads
// clang-format on

// The steps of the check on 32 bytes, with AVX2.
struct Avx2 {
  using V = __m256i;
  static constexpr std::size_t kBytes = 32;
  __attribute__((target("avx2"))) static V Load(const unsigned char* p) {
    return _mm256_loadu_si256(reinterpret_cast<const V*>(p));
  }
  __attribute__((target("avx2"))) static V Table(const uint8_t (&t)[16]) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t)));
  }
  __attribute__((target("avx2"))) static V Splat(uint8_t c) { return _mm256_set1_epi8(static_cast<char>(c)); }
  __attribute__((target("avx2"))) static V Zero() { return _mm256_setzero_si256(); }
  __attribute__((target("avx2"))) static V And(V a, V b) { return _mm256_and_si256(a, b); }
  __attribute__((target("avx2"))) static V Or(V a, V b) { return _mm256_or_si256(a, b); }
  __attribute__((target("avx2"))) static V Xor(V a, V b) { return _mm256_xor_si256(a, b); }
  __attribute__((target("avx2"))) static V HighHalves(V v) { return _mm256_srli_epi16(v, 4); }
  __attribute__((target("avx2"))) static V SubtractSaturated(V a, V b) { return _mm256_subs_epu8(a, b); }
  __attribute__((target("avx2"))) static V Lookup(V table, V index) { return _mm256_shuffle_epi8(table, index); }
  __attribute__((target("avx2"))) static bool Any(V v) { return !_mm256_testz_si256(v, v); }
  // One bit per byte: the bytes equal to c.
  __attribute__((target("avx2"))) static uint64_t Equal(V v, char c) {
    return static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(c))));
  }
  // The bytes of `now`, each with the byte `n` places before it, the first ones from `before`.
  template <int n>
  __attribute__((target("avx2"))) static V Earlier(V now, V before) {
    return _mm256_alignr_epi8(now, _mm256_permute2x128_si256(before, now, 0x21), 16 - n);
  }
};

// The same on 64 bytes, with AVX-512BW: 0.7 ms less than AVX2 for a 30 MB text here.
struct Avx512 {
  using V = __m512i;
  static constexpr std::size_t kBytes = 64;
  __attribute__((target("avx512bw"))) static V Load(const unsigned char* p) { return _mm512_loadu_si512(p); }
  __attribute__((target("avx512bw"))) static V Table(const uint8_t (&t)[16]) {
    int words[4];
    std::memcpy(words, t, sizeof words);
    return _mm512_set4_epi32(words[3], words[2], words[1], words[0]);
  }
  __attribute__((target("avx512bw"))) static V Splat(uint8_t c) { return _mm512_set1_epi8(static_cast<char>(c)); }
  __attribute__((target("avx512bw"))) static V Zero() { return _mm512_setzero_si512(); }
  __attribute__((target("avx512bw"))) static V And(V a, V b) { return _mm512_and_si512(a, b); }
  __attribute__((target("avx512bw"))) static V Or(V a, V b) { return _mm512_or_si512(a, b); }
  __attribute__((target("avx512bw"))) static V Xor(V a, V b) { return _mm512_xor_si512(a, b); }
  __attribute__((target("avx512bw"))) static V HighHalves(V v) { return _mm512_srli_epi16(v, 4); }
  __attribute__((target("avx512bw"))) static V SubtractSaturated(V a, V b) { return _mm512_subs_epu8(a, b); }
  __attribute__((target("avx512bw"))) static V Lookup(V table, V index) { return _mm512_shuffle_epi8(table, index); }
  __attribute__((target("avx512bw"))) static bool Any(V v) { return _mm512_test_epi8_mask(v, v) != 0; }
  __attribute__((target("avx512bw"))) static uint64_t Equal(V v, char c) {
    return _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(c));
  }
  // Each 16-byte lane of `now` after the lane before it (the last of `before` for the first),
  // shifted in by n bytes.
  template <int n>
  __attribute__((target("avx512bw"))) static V Earlier(V now, V before) {
    const V lanesBefore = _mm512_permutex2var_epi64(before, _mm512_set_epi64(13, 12, 11, 10, 9, 8, 7, 6), now);
    return _mm512_alignr_epi8(now, lanesBefore, 16 - n);
  }
};

// Offset of the block of S::kBytes in which a fault was first seen, or `blocks * S::kBytes`
// when none was. A fault seen in a block lies in it or in the three bytes before it; a
// sequence cut by the end of the last block is left to the caller. With kStopAtZero a zero
// byte counts as a fault too, so that a text that ends at its first zero byte is checked in
// the same pass. With a `startTags` array, the pass also counts the "<" followed by neither
// "/" nor "?" of each StartTagCounts block before the fault, into its entries, one per block
// (the bytes are in registers already: a pass of its own to count them took half as long as
// the check). Without kCheckUtf8, only a zero byte is a fault: the same pass for a text not
// to be checked.
// One body for both processors: a function that takes vectors must be built for the processor
// they are made for, and which one cannot be a template's parameter.
#define MENUCONV_FIRST_FAULTY_BLOCK(S, kTarget)                                                                 \
  template <bool kStopAtZero, bool kCheckUtf8>                                                                  \
  __attribute__((target(kTarget)))                                                                              \
  std::size_t FirstFaultyBlock##S(const unsigned char* p, std::size_t blocks, uint32_t* startTags) {            \
    using V = S::V;                                                                                             \
    const V firstHigh = S::Table(kFirstHigh);                                                                   \
    const V firstLow = S::Table(kFirstLow);                                                                     \
    const V secondHigh = S::Table(kSecondHigh);                                                                 \
    const V nibble = S::Splat(0x0F);                                                                            \
    V before = S::Zero();                                                                                       \
    constexpr std::size_t kCountedBlock = byte_scan::StartTagCounts::kBlock / S::kBytes;                        \
    uint32_t opened = 0; /* "<" counted in the current StartTagCounts block */                                  \
    /* Every block is checked whole: skipping the ASCII ones costs more in mispredicted branches where ASCII */ \
    /* and other text alternate, as in a document's texts, than it saves. */                                    \
    for (std::size_t block = 0; block < blocks; ++block) {                                                      \
      const V now = S::Load(p + S::kBytes * block);                                                             \
      const V prev1 = S::Earlier<1>(now, before);                                                               \
      if (kCheckUtf8) {                                                                                         \
        const V pairs = S::And(S::And(S::Lookup(firstHigh, S::And(S::HighHalves(prev1), nibble)),               \
                                      S::Lookup(firstLow, S::And(prev1, nibble))),                              \
                               S::Lookup(secondHigh, S::And(S::HighHalves(now), nibble)));                      \
        /* Bit 7 where a lead two or three bytes back (E0 and up, F0 and up) asks for a continuation. */        \
        const V asked = S::And(S::Or(S::SubtractSaturated(S::Earlier<2>(now, before), S::Splat(0xE0 - 0x80)),   \
                                     S::SubtractSaturated(S::Earlier<3>(now, before), S::Splat(0xF0 - 0x80))),  \
                               S::Splat(0x80));                                                                 \
        if (S::Any(S::Xor(pairs, asked))) return S::kBytes * block;                                             \
      }                                                                                                         \
      if (kStopAtZero && S::Equal(now, '\0') != 0) return S::kBytes * block;                                    \
      if (startTags) {                                                                                          \
        /* Each "<" one byte back, counted with the byte after it. */                                           \
        const uint64_t opens = S::Equal(prev1, '<') & ~(S::Equal(now, '/') | S::Equal(now, '?'));               \
        opened += static_cast<uint32_t>(__builtin_popcountll(opens));                                           \
        if ((block + 1) % kCountedBlock == 0) {                                                                 \
          startTags[block / kCountedBlock] = opened;                                                            \
          opened = 0;                                                                                           \
        }                                                                                                       \
      }                                                                                                         \
      before = now;                                                                                             \
    }                                                                                                           \
    return S::kBytes * blocks;                                                                                  \
  }

MENUCONV_FIRST_FAULTY_BLOCK(Avx2, "avx2")
MENUCONV_FIRST_FAULTY_BLOCK(Avx512, "avx512bw")
#undef MENUCONV_FIRST_FAULTY_BLOCK

// At most how wide the check's vectors may be, for the tests (see LimitUtf8Vectors).
std::atomic<int> allowed{64};

// The widest vectors the processor (and the system) has, and the tests allow: 64, 32 or 0.
int WidestVectors() {
  static const int supported = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") ? 64
                               : __builtin_cpu_supports("avx2")                                        ? 32
                                                                                                       : 0;
  return std::min(supported, allowed.load(std::memory_order_relaxed));
}

}  // namespace vectors
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

// The offset of the block where the vector pass saw a fault, or of the end of the last whole
// block; npos where the pass does not run. `startTags`, if any, gets the counts of the blocks
// the pass went through.
template <bool kStopAtZero, bool kCheckUtf8 = true>
std::size_t FastPassEnd(std::string_view text, byte_scan::StartTagCounts* startTags) {
  if (startTags) startTags->perBlock.clear();
#ifdef MENUCONV_UTF8_AVX2
  const int vectorBytes = vectors::WidestVectors();
  if (vectorBytes > 0 && text.size() >= 2 * static_cast<std::size_t>(vectorBytes)) {
    uint32_t* counts = nullptr;
    if (startTags) {
      startTags->perBlock.resize(text.size() / byte_scan::StartTagCounts::kBlock);
      counts = startTags->perBlock.data();
    }
    const auto* const begin = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t blocks = text.size() / static_cast<std::size_t>(vectorBytes);
    const std::size_t end = vectorBytes == 64
                                ? vectors::FirstFaultyBlockAvx512<kStopAtZero, kCheckUtf8>(begin, blocks, counts)
                                : vectors::FirstFaultyBlockAvx2<kStopAtZero, kCheckUtf8>(begin, blocks, counts);
    if (startTags) startTags->perBlock.resize(end / byte_scan::StartTagCounts::kBlock);
    return end;
  }
#endif
  return std::string_view::npos;
}

// Where the plain check takes over: the start of the sequence that holds the three bytes
// before the block where the vector pass saw a fault (or stopped), or the start of the text.
// `startTags`, if any, gets the counts of the blocks the vector pass went through.
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

void LimitUtf8Vectors(int bytes) {
#ifdef MENUCONV_UTF8_AVX2
  vectors::allowed.store(bytes, std::memory_order_relaxed);
#else
  (void)bytes;
#endif
}

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
