// POSIX code-page layer: ICU's converters, with UTF-8 as the narrow encoding in memory. The
// single-byte code pages are converted from their own tables, and need ICU only for
// characters they lack (the best-fit replacements).
#include <dlfcn.h>
#include <unicode/ucnv.h>

#include <cstring>
#include <map>
#include <memory>

#include "base/utf8.h"
#include "platform/codepage.h"
#include "platform/file_io.h"
#include "platform/halves.h"
#include "platform/large_blocks.h"
#include "platform/single_byte_code_pages.h"

namespace menuconv::platform {

namespace {

// ICU names of the code pages of the encoding table.
struct IcuNameRow {
  uint32_t codePage;
  const char* name;
};
constexpr IcuNameRow kIcuNames[] = {
    {code_page::kUtf8, "UTF-8"},
    {code_page::kUtf7, "UTF-7"},
    {code_page::kWindows1250, "windows-1250"},
    {code_page::kWindows1251, "windows-1251"},
    {code_page::kWindows1252, "windows-1252"},
    {code_page::kWindows1253, "windows-1253"},
    {code_page::kWindows1254, "windows-1254"},
    {code_page::kShiftJis, "windows-31j"},  // Windows' own 932 table, not plain Shift_JIS
    {code_page::kIso2022Jp, "ISO-2022-JP"},
    {code_page::kIso2022Kr, "ISO-2022-KR"},
};

const char* IcuName(uint32_t codePage) {
  for (const IcuNameRow& row : kIcuNames) {
    if (row.codePage == codePage) return row.name;
  }
  return nullptr;
}

// ICU is loaded when a converter is first needed, not when the program starts: a run on a
// UTF-8 or windows-125x document needs none, and loading ICU took some 0.6 ms and 0.9 MB of
// every run. Its functions are looked up under the versioned names its headers give them.
#define MENUCONV_QUOTE(name) #name
#define MENUCONV_SYMBOL(name) MENUCONV_QUOTE(name)

struct IcuFunctions {
  bool loaded = false;
  decltype(&ucnv_open) open = nullptr;
  decltype(&ucnv_close) close = nullptr;
  decltype(&ucnv_reset) reset = nullptr;
  decltype(&ucnv_setFallback) setFallback = nullptr;
  decltype(&ucnv_setSubstChars) setSubstChars = nullptr;
  decltype(&ucnv_setToUCallBack) setToUCallBack = nullptr;
  decltype(&ucnv_convertEx) convertEx = nullptr;
  decltype(&UCNV_TO_U_CALLBACK_SUBSTITUTE) substitute = nullptr;
};

template <class Function>
bool Resolve(void* library, const char* symbol, Function& function) {
  void* const address = ::dlsym(library, symbol);
  std::memcpy(&function, &address, sizeof function);
  return address != nullptr;
}

// The functions, or none loaded where the library cannot be: every converter then fails to
// open, and so does every conversion of a code page.
const IcuFunctions& Icu() {
  static const IcuFunctions functions = [] {
    IcuFunctions f;
    void* const library = ::dlopen(MENUCONV_ICU_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return f;
    f.loaded = Resolve(library, MENUCONV_SYMBOL(ucnv_open), f.open) &&
               Resolve(library, MENUCONV_SYMBOL(ucnv_close), f.close) &&
               Resolve(library, MENUCONV_SYMBOL(ucnv_reset), f.reset) &&
               Resolve(library, MENUCONV_SYMBOL(ucnv_setFallback), f.setFallback) &&
               Resolve(library, MENUCONV_SYMBOL(ucnv_setSubstChars), f.setSubstChars) &&
               Resolve(library, MENUCONV_SYMBOL(ucnv_setToUCallBack), f.setToUCallBack) &&
               Resolve(library, MENUCONV_SYMBOL(ucnv_convertEx), f.convertEx) &&
               Resolve(library, MENUCONV_SYMBOL(UCNV_TO_U_CALLBACK_SUBSTITUTE), f.substitute);
    return f;
  }();
  return functions;
}

struct ConverterCloser {
  void operator()(UConverter* c) const { Icu().close(c); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

UConverter* Open(const char* name) {
  const IcuFunctions& icu = Icu();
  if (!icu.loaded) return nullptr;
  UErrorCode error = U_ZERO_ERROR;
  UConverter* converter = icu.open(name, &error);
  if (U_FAILURE(error)) return nullptr;
  // Fallback mappings come closest to Windows' best-fit replacements; a character the
  // target lacks otherwise becomes "?".
  icu.setFallback(converter, true);
  error = U_ZERO_ERROR;
  icu.setSubstChars(converter, "?", 1, &error);
  return converter;
}

struct ByteTable;
struct ReverseByteTable;

// What a CodePageConverters keeps: the converters and tables, each made on first use.
struct Caches {
  std::map<uint32_t, Converter> converters;
  Converter utf8;
  std::map<uint32_t, std::unique_ptr<ByteTable>> tables;
  std::map<uint32_t, std::unique_ptr<ReverseByteTable>> reverseTables;
};

// The entry of the cache for the code page, made by build() unless it is there (a table that
// could not be made is tried again next time).
template <class Table, class Build>
const Table* Cached(std::map<uint32_t, std::unique_ptr<Table>>& cache, uint32_t codePage, Build&& build) {
  std::unique_ptr<Table>& entry = cache[codePage];
  if (!entry) entry = build();
  return entry.get();
}

// One converter per code page, opened on first use and kept with the caches; reset for each
// use.
UConverter* ConverterFor(Caches& caches, uint32_t codePage) {
  std::map<uint32_t, Converter>& converters = caches.converters;
  auto it = converters.find(codePage);
  if (it == converters.end()) {
    const char* name = IcuName(codePage);
    it = converters.emplace(codePage, Converter(name ? Open(name) : nullptr)).first;
  }
  if (it->second) Icu().reset(it->second.get());
  return it->second.get();
}

// Counts the byte sequences a converter finds invalid or unmapped while decoding, then
// substitutes them as ICU does by default.
struct FaultCounter {
  const char* start = nullptr;  // of the input, to give the first one's position
  DecodeFaults* faults = nullptr;
};

void CountFault(const void* context, UConverterToUnicodeArgs* args, const char* codeUnits, int32_t length,
                UConverterCallbackReason reason, UErrorCode* error) {
  const auto* counter = static_cast<const FaultCounter*>(context);
  if (counter && counter->faults && reason <= UCNV_IRREGULAR) {
    DecodeFaults& faults = *counter->faults;
    if (faults.count++ == 0) {
      const std::ptrdiff_t at = args->source - counter->start - length;
      faults.first = at > 0 ? static_cast<std::size_t>(at) : 0;
    }
  }
  Icu().substitute(nullptr, args, codeUnits, length, reason, error);
}

// Sets the counter for the decoding that follows; the converter keeps the pointer, so every
// decoding with it sets its own first.
void CountFaultsWith(UConverter* converter, const FaultCounter* counter) {
  UErrorCode error = U_ZERO_ERROR;
  Icu().setToUCallBack(converter, CountFault, counter, nullptr, nullptr, &error);
}

// The narrow side of every conversion.
UConverter* Utf8Converter(Caches& caches) {
  if (!caches.utf8) caches.utf8.reset(Open("UTF-8"));
  if (caches.utf8) Icu().reset(caches.utf8.get());
  return caches.utf8.get();
}

// Converts the whole input, growing the output as needed: only an unusable converter fails.
bool Convert(UConverter* to, UConverter* from, std::string_view in, ByteBuffer& out, std::size_t expectedGrowth) {
  // Nothing in gives nothing out: no ISO-2022-KR header and no UTF-7 shift for an empty text.
  if (in.empty()) return true;
  const std::size_t start = out.size();
  std::size_t capacity = in.size() * expectedGrowth + 16;
  out.Resize(start + capacity);
  UChar pivot[4096];
  UChar* pivotSource = pivot;
  UChar* pivotTarget = pivot;
  const char* source = in.data();
  std::size_t written = start;  // offsets, not pointers: the buffer moves when it grows
  // The converters were reset when they were handed out. Letting ucnv_convertEx reset them
  // again loses the "ESC $ ) C" header that an ISO-2022-KR text must start with.
  const bool reset = false;
  for (;;) {
    UErrorCode error = U_ZERO_ERROR;
    char* const base = out.data();
    char* target = base + written;
    Icu().convertEx(to, from, &target, base + out.size(), &source, in.data() + in.size(), pivot, &pivotSource,
                    &pivotTarget, pivot + 4096, reset, true, &error);
    written = static_cast<std::size_t>(target - base);
    if (error == U_BUFFER_OVERFLOW_ERROR) {
      out.Resize(out.size() * 2);
      continue;
    }
    if (U_FAILURE(error)) {
      out.Resize(start);
      return false;
    }
    break;
  }
  out.Resize(written);
  return true;
}

// The single-byte code pages decode byte by byte; a table of each byte's UTF-8 form, made
// from the code page's data, makes decoding large files a simple copy loop.
struct ByteTable {
  char bytes[256][4];
  uint8_t length[256];
  bool invalid[256];  // the byte is not a character of the code page
  bool anyInvalid;
};

// Writes the UTF-8 form of a character below U+10000; gives its length.
uint8_t EncodeUtf8(char16_t character, char* out) {
  if (character < 0x80) {
    out[0] = static_cast<char>(character);
    return 1;
  }
  if (character < 0x800) {
    out[0] = static_cast<char>(0xC0 | character >> 6);
    out[1] = static_cast<char>(0x80 | (character & 0x3F));
    return 2;
  }
  out[0] = static_cast<char>(0xE0 | character >> 12);
  out[1] = static_cast<char>(0x80 | (character >> 6 & 0x3F));
  out[2] = static_cast<char>(0x80 | (character & 0x3F));
  return 3;
}

std::unique_ptr<ByteTable> BuildByteTable(uint32_t codePage) {
  const char16_t* const high = HighBytesOf(codePage);
  if (!high) return nullptr;
  auto built = std::make_unique<ByteTable>();
  built->anyInvalid = false;
  for (unsigned b = 0; b < 256; ++b) {
    const char16_t character = b < 0x80 ? static_cast<char16_t>(b) : high[b - 0x80];
    built->length[b] = EncodeUtf8(character, built->bytes[b]);
    built->invalid[b] = character == kNotACharacter;
    built->anyInvalid = built->anyInvalid || built->invalid[b];
  }
  return built;
}

const ByteTable* SingleByteTable(Caches& caches, uint32_t codePage) {
  if (!code_page::IsWindows125x(codePage)) return nullptr;
  return Cached(caches.tables, codePage, [&] { return BuildByteTable(codePage); });
}

// Copies the run of ASCII bytes at p, eight bytes at a time while they last.
void CopyAsciiRun(const unsigned char*& p, const unsigned char* end, char*& target) {
  while (end - p >= 8) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    if (word & 0x8080808080808080ull) return;
    std::memcpy(target, p, 8);
    p += 8;
    target += 8;
  }
}

// Decodes into `target`, which has room for three bytes a byte; gives the end of the output.
// Each character is copied at its exact length, so two halves can be decoded side by side.
char* DecodeSingleBytes(const ByteTable& table, std::string_view bytes, char* target) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* const end = p + bytes.size();
  while (p < end) {
    CopyAsciiRun(p, end, target);
    if (p == end) break;
    const unsigned char b = *p++;
    if (b < 0x80) {
      *target++ = static_cast<char>(b);
      continue;
    }
    const char* character = table.bytes[b];
    switch (table.length[b]) {
      case 2:
        std::memcpy(target, character, 2);
        target += 2;
        break;
      case 3:
        std::memcpy(target, character, 3);
        target += 3;
        break;
      default:
        std::memcpy(target, character, 1);
        target += 1;
        break;
    }
  }
  return target;
}

// The length of the decoded form.
std::size_t DecodedLength(const ByteTable& table, std::string_view bytes) {
  std::size_t length = bytes.size();
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* const end = p + bytes.size();
  while (p < end) {
    if (end - p >= 8) {
      uint64_t word;
      std::memcpy(&word, p, 8);
      if (!(word & 0x8080808080808080ull)) {
        p += 8;
        continue;
      }
    }
    if (*p >= 0x80) length += table.length[*p] - 1u;
    ++p;
  }
  return length;
}

void DecodeSingleBytes(const ByteTable& table, std::string_view bytes, ByteBuffer& out) {
  const std::size_t start = out.size();
  out.Resize(start + bytes.size() * 3);
  char* const target = out.data() + start;
  AdviseLargePages(target, bytes.size() * 3);
  // A large text is decoded in two halves at once: the second goes where the first's decoded
  // length says, so nothing is moved afterwards.
  constexpr std::size_t kSplitFrom = 8u << 20;
  char* decodedEnd = target;
  InTwoHalves(bytes.size(), kSplitFrom, [&](Half half) {
    char* const at = half.begin == 0 ? target : target + DecodedLength(table, bytes.substr(0, half.begin));
    char* const end = DecodeSingleBytes(table, bytes.substr(half.begin, half.size()), at);
    if (half.end == bytes.size()) decodedEnd = end;
  });
  out.Resize(static_cast<std::size_t>(decodedEnd - out.data()));
}

// The way back for the same code pages: the byte of each of the code page's own characters.
// Every character these code pages hold lies below U+2200.
struct ReverseByteTable {
  static constexpr uint32_t kSize = 0x2200;
  uint8_t byte[kSize];  // 0: not in the table (U+0000 is ASCII and never looked up)
};

std::unique_ptr<ReverseByteTable> BuildReverseTable(uint32_t codePage) {
  const char16_t* const high = HighBytesOf(codePage);
  if (!high) return nullptr;
  auto built = std::make_unique<ReverseByteTable>();
  std::memset(built->byte, 0, sizeof built->byte);
  for (unsigned b = 0x80; b < 256; ++b) {
    const char16_t character = high[b - 0x80];
    if (character >= 0x80 && character < ReverseByteTable::kSize) built->byte[character] = static_cast<uint8_t>(b);
  }
  return built;
}

const ReverseByteTable* SingleByteReverseTable(Caches& caches, uint32_t codePage) {
  if (!code_page::IsWindows125x(codePage)) return nullptr;
  return Cached(caches.reverseTables, codePage, [&] { return BuildReverseTable(codePage); });
}

// Encodes UTF-8 text through the reverse table. False, with `out` as it was, at the first
// character the table does not hold (or an ill-formed sequence): such text goes through ICU.
bool EncodeSingleBytes(const ReverseByteTable& table, std::string_view text, ByteBuffer& out) {
  const std::size_t start = out.size();
  out.Resize(start + text.size());
  char* target = out.data() + start;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* const end = p + text.size();
  while (p < end) {
    CopyAsciiRun(p, end, target);
    if (p == end) break;
    const unsigned char lead = *p;
    if (lead < 0x80) {
      *target++ = static_cast<char>(*p++);
      continue;
    }
    uint32_t cp = ReverseByteTable::kSize;
    const Utf8Lead form = Utf8LeadOf(lead);
    if (form.length == 2 && end - p >= 2 && IsUtf8Continuation(p[1])) {
      cp = (lead & 0x1Fu) << 6 | (p[1] & 0x3Fu);
      p += 2;
    } else if (form.length == 3 && lead <= 0xE2 && end - p >= 3 && p[1] >= form.secondLow && p[1] <= form.secondHigh &&
               IsUtf8Continuation(p[2])) {  // leads past E2 lie beyond the table
      cp = (lead & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
      p += 3;
    }
    if (cp >= ReverseByteTable::kSize || table.byte[cp] == 0) {
      out.Resize(start);
      return false;
    }
    *target++ = static_cast<char>(table.byte[cp]);
  }
  out.Resize(static_cast<std::size_t>(target - out.data()));
  return true;
}

}  // namespace

bool NarrowIsUtf8() { return true; }

struct CodePageConverters::Kept : Caches {};

CodePageConverters::CodePageConverters() : kept_(std::make_unique<Kept>()) {}
CodePageConverters::~CodePageConverters() = default;

bool CodePageConverters::CanConvert(uint32_t codePage) {
  return codePage == code_page::kUtf8 || HighBytesOf(codePage) != nullptr || ConverterFor(*kept_, codePage) != nullptr;
}

bool CodePageConverters::ToNarrow(uint32_t codePage, std::string_view bytes, ByteBuffer& out, DecodeFaults* faults) {
  if (codePage == code_page::kUtf8) {
    if (faults) faults->count = CountInvalidUtf8(bytes, faults->first);
    AppendRepairedUtf8(bytes, out);
    return true;
  }
  if (const ByteTable* table = SingleByteTable(*kept_, codePage)) {
    if (faults && table->anyInvalid) {
      for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (!table->invalid[static_cast<unsigned char>(bytes[i])]) continue;
        if (faults->count++ == 0) faults->first = i;
      }
    }
    DecodeSingleBytes(*table, bytes, out);
    return true;
  }
  UConverter* from = ConverterFor(*kept_, codePage);
  UConverter* utf8 = Utf8Converter(*kept_);
  if (!from || !utf8) return false;
  const FaultCounter counter{bytes.data(), faults};
  CountFaultsWith(from, &counter);
  // No supported encoding takes more than three UTF-8 bytes per input byte.
  const bool converted = Convert(utf8, from, bytes, out, 3);
  CountFaultsWith(from, nullptr);
  return converted;
}

bool CodePageConverters::FromNarrow(uint32_t codePage, std::string_view text, ByteBuffer& out) {
  if (codePage == code_page::kUtf8) {
    AppendRepairedUtf8(text, out);
    return true;
  }
  if (const ReverseByteTable* table = SingleByteReverseTable(*kept_, codePage)) {
    if (EncodeSingleBytes(*table, text, out)) return true;
  }
  UConverter* to = ConverterFor(*kept_, codePage);
  UConverter* utf8 = Utf8Converter(*kept_);
  if (!to || !utf8) return false;
  return Convert(to, utf8, text, out, 2);
}

}  // namespace menuconv::platform
