#include "texts/text_table.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

#include "base/byte_scan.h"
#include "platform/file_io.h"
#include "texts/byte_file.h"

namespace menuconv {

namespace {

constexpr char16_t kTab = u'\t';
constexpr char16_t kLineFeed = u'\n';
constexpr char16_t kCarriageReturn = u'\r';

// The bytes a written table puts around its records (see the file format).
constexpr std::string_view kMark("\xFF\xFE", 2);
constexpr std::string_view kSeparator("\t\0", 2);
constexpr std::string_view kLineEnd("\r\0\n\0", 4);

char16_t UnitAt(std::string_view data, std::size_t index) {
  return static_cast<char16_t>(static_cast<unsigned char>(data[2 * index]) |
                               static_cast<unsigned char>(data[2 * index + 1]) << 8);
}

// Four units of `unit`, as the host reads them from a file.
std::uint64_t FourUnits(char16_t unit) {
  const auto low = static_cast<char>(unit & 0xFF);
  const auto high = static_cast<char>(unit >> 8);
  const char bytes[8] = {low, high, low, high, low, high, low, high};
  return byte_scan::Load8(bytes);
}

// Non-zero when one of the four units in `value` (read as Load8 reads them) is U+0000; in
// either byte order a unit is one 16-bit lane.
std::uint64_t HasZeroUnit(std::uint64_t value) { return (value - 0x0001000100010001u) & ~value & 0x8000800080008000u; }

// The first unit from `from` on that is `wanted` or U+0000, or `count` when there is none.
// Four units at a time while none of them is either.
std::size_t Scan(std::string_view data, std::size_t from, std::size_t count, char16_t wanted) {
  std::size_t i = from;
#ifdef MENUCONV_SSE2
  // Eight units at a time: one 16-bit lane each, as a little-endian host reads them.
  const __m128i pattern8 = _mm_set1_epi16(static_cast<short>(wanted));
  const __m128i zero = _mm_setzero_si128();
  for (; i + 8 <= count; i += 8) {
    const __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data.data() + 2 * i));
    const auto hits = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(eight, pattern8), _mm_cmpeq_epi16(eight, zero))));
    if (hits != 0) return i + static_cast<std::size_t>(__builtin_ctz(hits)) / 2;
  }
#endif
  const std::uint64_t pattern = FourUnits(wanted);
  for (; i + 4 <= count; i += 4) {
    const std::uint64_t four = byte_scan::Load8(data.data() + 2 * i);
    if ((HasZeroUnit(four) | HasZeroUnit(four ^ pattern)) != 0) break;
  }
  while (i < count) {
    const char16_t unit = UnitAt(data, i);
    if (unit == wanted || unit == 0) break;
    ++i;
  }
  return i;
}

// How many records ahead a key is asked into the cache (byte_scan::Prefetch): keys in key
// order lie anywhere in their file, and comparing or copying them waits on memory otherwise.
constexpr std::size_t kAhead = 8;

// The units of a file in blocks of 64, with a bit per unit for each kind of unit that ends a
// key or a text: a record's TAB and CR are then found from the block's bits, where a search
// from each record's start paid a mispredicted branch at every end it found.
class UnitMarks {
 public:
  explicit UnitMarks(std::string_view data) : data_(data), count_(data.size() / 2) {}

  // The first unit from `from` on that is `wanted` (a TAB or a CR) or U+0000; `count` when
  // there is none: the same as Scan.
  std::size_t Next(std::size_t from, char16_t wanted) {
    while (from < count_) {
      const std::size_t block = from / 64;
      if (block != block_) Mark(block);
      const uint64_t hits = ((wanted == kTab ? tabs_ : returns_) | zeros_) >> (from % 64);
      if (hits != 0) return from + static_cast<std::size_t>(__builtin_ctzll(hits));
      from = (block + 1) * 64;
    }
    return count_;
  }

 private:
  void Mark(std::size_t block) {
    block_ = block;
    const std::size_t first = block * 64;
    tabs_ = returns_ = zeros_ = 0;
#ifdef MENUCONV_SSE2
    if (count_ - first >= 64) {
      // Sixteen units per step: the two comparisons' 16-bit lanes packed into bytes.
      const auto marks = [](__m128i a, __m128i b, __m128i unit) {
        const __m128i packed = _mm_packs_epi16(_mm_cmpeq_epi16(a, unit), _mm_cmpeq_epi16(b, unit));
        return uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(packed))};
      };
      const auto* p = reinterpret_cast<const __m128i*>(data_.data() + 2 * first);
      for (unsigned i = 0; i < 4; ++i) {
        const __m128i a = _mm_loadu_si128(p + 2 * i);
        const __m128i b = _mm_loadu_si128(p + 2 * i + 1);
        tabs_ |= marks(a, b, _mm_set1_epi16(kTab)) << (16 * i);
        returns_ |= marks(a, b, _mm_set1_epi16(kCarriageReturn)) << (16 * i);
        zeros_ |= marks(a, b, _mm_setzero_si128()) << (16 * i);
      }
      return;
    }
#endif
    const std::size_t end = std::min(first + 64, count_);
    for (std::size_t i = first; i < end; ++i) {
      const char16_t unit = UnitAt(data_, i);
      tabs_ |= uint64_t{unit == kTab} << (i - first);
      returns_ |= uint64_t{unit == kCarriageReturn} << (i - first);
      zeros_ |= uint64_t{unit == 0} << (i - first);
    }
  }

  std::string_view data_;
  std::size_t count_;
  std::size_t block_ = static_cast<std::size_t>(-1);
  uint64_t tabs_ = 0;
  uint64_t returns_ = 0;
  uint64_t zeros_ = 0;
};

// The rules of ReadTextLine, whatever finds the units: next(from, wanted) gives the first unit
// from `from` on that is `wanted` or U+0000, or the number of units when there is none.
template <class Next>
bool CutRecord(std::string_view data, std::size_t& position, TextRecord& record, Next&& next) {
  const std::size_t count = data.size() / 2;
  if (position >= count) {
    position = count;
    return false;
  }
  const std::size_t tab = next(position, kTab);
  if (tab == count || UnitAt(data, tab) != kTab) {
    position = tab;
    return false;
  }
  const std::size_t start = tab + 1;
  const std::size_t cr = next(start, kCarriageReturn);
  record = TextRecord(data.data() + 2 * position, tab - position, cr - start);
  if (cr < count && UnitAt(data, cr) == kCarriageReturn) {
    position = cr + 1;
    if (position < count && UnitAt(data, position) == kLineFeed) ++position;
  } else {
    position = cr;  // the end of the units, or a U+0000 unit where the reading stops
  }
  return true;
}

// Where the reading of a file stopped, as the failure says it.
Status StoppedAt(std::string_view data, std::size_t stop) {
  InputPlace place;
  place.offset = 2 * stop;
  std::size_t lineStart = 0;  // the first unit of the line
  place.line = 1;
  for (std::size_t i = 0; i < stop; ++i) {
    if (UnitAt(data, i) == kLineFeed) {
      ++place.line;
      lineStart = i + 1;
    }
  }
  place.column = 2 * (stop - lineStart) + 1;
  return Status::Failure(StatusCode::kMalformedInput,
                         "reading stopped at a U+0000 unit at byte " + std::to_string(2 * stop), place);
}

}  // namespace

std::u16string TextUnits::ToU16String() const {
  std::u16string units(units_, u'\0');
  for (std::size_t i = 0; i < units_; ++i) units[i] = (*this)[i];
  return units;
}

int CompareUnits(TextUnits a, TextUnits b) {
  const std::size_t common = std::min(a.size(), b.size());
  const char* p = a.bytes().data();
  const char* q = b.bytes().data();
  std::size_t i = 0;
  // Four units at a time while they are equal: many keys share a long start.
  for (; i + 4 <= common; i += 4) {
    const std::uint64_t x = byte_scan::Load8(p + 2 * i);
    const std::uint64_t y = byte_scan::Load8(q + 2 * i);
    if (x == y) continue;
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // Read little-endian, the first unit that differs is the lowest lane that does.
    const int lane = __builtin_ctzll(x ^ y) & ~15;
    return ((x >> lane) & 0xFFFF) < ((y >> lane) & 0xFFFF) ? -1 : 1;
#else
    break;
#endif
  }
  for (; i < common; ++i) {
    const char16_t u = a[i];
    const char16_t v = b[i];
    if (u != v) return u < v ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

bool UnitsEqual(TextUnits a, TextUnits b) { return a.bytes() == b.bytes(); }

bool ReadTextLine(std::string_view data, std::size_t& position, TextRecord& record) {
  return CutRecord(data, position, record,
                   [data](std::size_t from, char16_t wanted) { return Scan(data, from, data.size() / 2, wanted); });
}

Status TextTable::AddFile(const std::string& path) {
  HeldBytes bytes;
  Status status = ReadFileBytes(path, bytes);
  if (!status.ok()) return status;
  return AddBytes(std::move(bytes));
}

namespace {

// Sorts the records by key and keeps, of equal keys, only the one read first (records read
// later lie at higher addresses, and come later here); gives the number kept. Each record is
// first told apart by the six units that follow what every key of the file starts with, as one
// 96-bit number that compares as the units do (a key that ends before them counts U+0000
// there, which no key holds). Those numbers are sorted byte by byte from the last, each pass
// stable, skipping the bytes that all records share (the high bytes of ASCII units): a few
// passes over the entries instead of some fifteen unpredictable comparisons per record. Only
// records alike in all six units, of which one key is longer, then compare their whole keys,
// away from the cache. The entries are made in the table's scratch room, kept from file to
// file: fresh memory costs more than sorting.
struct SortEntry {
  std::uint64_t high;   // the first four units after the common start
  std::uint32_t low;    // the two after them
  std::uint32_t index;  // the record's place in the file, with kWholeKey set (see below)
};
// Set in an entry's index when the key ends within the six units, so that the units are the
// whole of it. A file holds fewer than 2^31 records: each takes four units or more, but the
// last, and a file no more than 2^32 units.
constexpr std::uint32_t kWholeKey = 0x80000000u;
constexpr std::size_t kPrefixUnits = 6;
constexpr int kDigits = 12;  // bytes of the prefix, the least significant first

unsigned Digit(const SortEntry& entry, int digit) {
  return digit < 4 ? (entry.low >> (8 * digit)) & 0xFFu : (entry.high >> (8 * (digit - 4))) & 0xFFu;
}

// Sorts `entries` by prefix, of equal prefixes in index order, with `spare` as room for as many.
// Gives where the sorted entries ended up: `entries` or `spare`.
SortEntry* SortByPrefix(SortEntry* entries, SortEntry* spare, std::size_t count) {
  std::vector<std::size_t> counts(kDigits * 256, 0);
  for (std::size_t i = 0; i < count; ++i) {
    for (int digit = 0; digit < kDigits; ++digit) ++counts[digit * 256 + Digit(entries[i], digit)];
  }
  for (int digit = 0; digit < kDigits; ++digit) {
    std::size_t* const slots = &counts[digit * 256];
    if (slots[Digit(entries[0], digit)] == count) continue;  // every entry has this byte
    std::size_t next = 0;
    for (int value = 0; value < 256; ++value) {
      const std::size_t held = slots[value];
      slots[value] = next;
      next += held;
    }
    for (std::size_t i = 0; i < count; ++i) spare[slots[Digit(entries[i], digit)]++] = entries[i];
    std::swap(entries, spare);
  }
  return entries;
}

std::size_t SortByKeyDroppingRepeats(TextRecord* first, std::size_t count, TableMemory& memory) {
  const TextUnits leading = first->key();
  std::size_t common = leading.size();
  for (std::size_t r = 1; r < count && common > 0; ++r) {
    const TextUnits key = first[r].key();
    const std::size_t limit = std::min(common, key.size());
    std::size_t i = 0;
    while (i < limit && key[i] == leading[i]) ++i;
    common = i;
  }
  auto* const made = reinterpret_cast<SortEntry*>(memory.Scratch(2 * count * sizeof(SortEntry)));
  for (std::size_t i = 0; i < count; ++i) {
    const TextUnits key = first[i].key();
    std::uint64_t units[kPrefixUnits];
    for (std::size_t u = 0; u < kPrefixUnits; ++u) {
      const std::size_t at = common + u;
      units[u] = at < key.size() ? key[at] : 0u;
    }
    const std::uint32_t whole = key.size() <= common + kPrefixUnits ? kWholeKey : 0u;
    made[i] = SortEntry{units[0] << 48 | units[1] << 32 | units[2] << 16 | units[3],
                        static_cast<std::uint32_t>(units[4] << 16 | units[5]), static_cast<std::uint32_t>(i) | whole};
  }
  SortEntry* const entries = SortByPrefix(made, made + count, count);
  // Runs of one prefix in which a key goes on past it are put in order by their whole keys.
  const auto index = [](const SortEntry& e) { return e.index & ~kWholeKey; };
  const auto whole = [](const SortEntry& e) { return (e.index & kWholeKey) != 0; };
  const auto samePrefix = [](const SortEntry& a, const SortEntry& b) { return a.high == b.high && a.low == b.low; };
  for (std::size_t begin = 0; begin < count;) {
    std::size_t end = begin + 1;
    bool partial = !whole(entries[begin]);
    while (end < count && samePrefix(entries[end], entries[begin])) {
      partial = partial || !whole(entries[end]);
      ++end;
    }
    if (partial && end - begin > 1) {
      std::sort(entries + begin, entries + end, [first, &index](const SortEntry& a, const SortEntry& b) {
        const int order = CompareUnits(first[index(a)].key(), first[index(b)].key());
        return order != 0 ? order < 0 : index(a) < index(b);
      });
    }
    begin = end;
  }
  // The records are gathered in order into the half of the room the entries left free, and
  // copied back. Of equal keys the first is kept: two keys of one prefix are equal when both
  // end within it, and differ when one does and the other does not.
  auto* const sorted = reinterpret_cast<TextRecord*>(entries == made ? made + count : made);
  std::size_t kept = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const SortEntry& entry = entries[i];
    if (i > 0 && samePrefix(entry, entries[i - 1]) && whole(entry) == whole(entries[i - 1]) &&
        (whole(entry) || UnitsEqual(first[index(entry)].key(), sorted[kept - 1].key()))) {
      continue;
    }
    new (&sorted[kept++]) TextRecord(first[index(entry)]);
  }
  std::memcpy(static_cast<void*>(first), sorted, kept * sizeof(TextRecord));
  return kept;
}

// Keeps, of records in key order, the first of each key, moved down over the ones dropped; the
// number kept. A record whose key comes before the one before it ends the pass, with the rest
// moved down as it is and `inOrder` false: what was dropped up to there was a later record of
// a key kept, so sorting what is left still keeps the first of each.
std::size_t DropRepeatsInOrder(TextRecord* records, std::size_t count, bool& inOrder) {
  inOrder = true;
  if (count == 0) return 0;
  std::size_t kept = 1;
  for (std::size_t i = 1; i < count; ++i) {
    if (i + kAhead < count) byte_scan::Prefetch(records[i + kAhead].key().bytes().data());
    const int order = CompareUnits(records[kept - 1].key(), records[i].key());
    if (order < 0) {
      records[kept++] = records[i];
    } else if (order > 0) {
      inOrder = false;
      std::memmove(static_cast<void*>(records + kept), records + i, (count - i) * sizeof(TextRecord));
      return kept + (count - i);
    }
  }
  return kept;
}

// Merges the runs [first, middle) and [middle, last), each in key order with each key once,
// keeping of a key in both the first run's record; the number of records, which then start at
// `first`. The second run is copied into the scratch room (see above) and the records are
// filled in from the back, each landing on room already read.
std::size_t MergeRuns(TextRecord* first, TextRecord* middle, TextRecord* last, TableMemory& memory) {
  const auto later = static_cast<std::size_t>(last - middle);
  char* const room = memory.Scratch(later * sizeof(TextRecord));
  std::memcpy(room, static_cast<const void*>(middle), later * sizeof(TextRecord));
  const auto* const copied = reinterpret_cast<const TextRecord*>(room);
  constexpr auto kBehind = static_cast<std::ptrdiff_t>(kAhead);
  std::size_t fromLater = later;
  TextRecord* fromEarlier = middle;
  TextRecord* to = last;
  while (fromLater > 0) {
    if (fromLater > kAhead) byte_scan::Prefetch(copied[fromLater - 1 - kAhead].key().bytes().data());
    if (fromEarlier - first > kBehind) byte_scan::Prefetch(fromEarlier[-1 - kBehind].key().bytes().data());
    const int order = fromEarlier == first ? 1 : CompareUnits(copied[fromLater - 1].key(), fromEarlier[-1].key());
    if (order < 0) {
      *--to = *--fromEarlier;
    } else if (order > 0) {
      *--to = copied[--fromLater];
    } else {
      --fromLater;  // the first run has this key: its record stays
    }
  }
  // Records of the first run below `fromEarlier` are in place; those merged above it are moved
  // down to follow them when keys were dropped.
  const auto placed = static_cast<std::size_t>(last - to);
  if (to != fromEarlier) std::memmove(static_cast<void*>(fromEarlier), to, placed * sizeof(TextRecord));
  return static_cast<std::size_t>(fromEarlier - first) + placed;
}

}  // namespace

std::optional<std::size_t> TextTable::CutShortFile() const {
  for (std::size_t i = 0; i < files_.size(); ++i) {
    if (files_[i].CutShort()) return i;
  }
  return std::nullopt;
}

void TextTable::ReserveFor(std::size_t fileBytes) {
  // Room for records of some 16 units and more, as most are, and as much again to sort a
  // file's records in (two entries of 16 bytes per record): enough for two files of equal size.
  // What does not fit is allocated as usual.
  const std::size_t records = fileBytes / 32;
  memory_->Reserve((records_.size() + 2 * records) * sizeof(TextRecord));
  records_.reserve(records_.size() + records);
}

Status TextTable::AddBytes(HeldBytes bytes) {
  Status status;
  // Every call takes a place among the files, so that CutShortFile counts them as they were
  // added; one that contributes nothing keeps no bytes there.
  files_.emplace_back();
  if (bytes.empty()) return status;  // nothing to read
  const std::string_view data = bytes.view();
  if (data.size() < 2 || UnitAt(data, 0) != 0xFEFF) {
    return Status::Failure(StatusCode::kMalformedInput, "no UTF-16 little-endian byte-order mark (FF FE)");
  }
  if (data.size() / 2 > TextRecord::kMaxUnits) return Status::Failure(StatusCode::kTooLarge, "file too large");
  // The table keeps the bytes: its records point into them, and they stay where they are.
  files_.back() = std::move(bytes);
  // The file's records with a text, in the order read, after those of the table.
  const std::size_t held = records_.size();
  std::size_t position = 1;  // the unit after the mark
  try {
    // Room for records of some 16 units and more, as most are: fewer copies while it grows.
    records_.reserve(held + data.size() / 32);
    // The units are found from the marks of their blocks, ReadTextLine's Scan being the plain form.
    UnitMarks marks(data);
    const auto next = [&marks](std::size_t from, char16_t wanted) { return marks.Next(from, wanted); };
    TextRecord record;
    while (CutRecord(data, position, record, next)) {
      // Built in place from its parts: copied whole, a record just put together field by
      // field is loaded at once and waits for the stores of its fields to complete.
      const TextUnits key = record.key();
      if (!record.text().empty()) records_.emplace_back(key.bytes().data(), key.size(), record.text().size());
    }
  } catch (...) {
    records_.resize(held);  // the table as it was, in order
    throw;
  }
  // Only a U+0000 unit stops the reading before the end.
  if (position < data.size() / 2) status = StoppedAt(data, position);

  // The file's records in key order, and of the records of one key only the first read: a
  // record that comes later in the file lies at a higher address. A file that is sorted
  // already, as a rewritten table is, is only checked.
  TextRecord* const first = records_.data() + held;
  bool inOrder = true;
  std::size_t count = DropRepeatsInOrder(first, records_.size() - held, inOrder);
  if (!inOrder) count = SortByKeyDroppingRepeats(first, count, *memory_);
  records_.resize(held + count);
  // Then merged with the table's; of a key in both the table's record comes first and is kept.
  if (held > 0 && count > 0) {
    records_.resize(MergeRuns(records_.data(), first, records_.data() + records_.size(), *memory_));
  }
  return status;
}

std::string_view TextTable::LineOf(const TextRecord& record) const {
  const std::string_view text = record.text().bytes();
  const char* const textEnd = text.data() + text.size();
  const auto tail = reinterpret_cast<std::uintptr_t>(textEnd);
  for (const HeldBytes& file : files_) {
    const auto begin = reinterpret_cast<std::uintptr_t>(file.data());
    if (tail < begin || tail - begin > file.size()) continue;  // another file's record
    if (file.size() - (tail - begin) < kLineEnd.size() || std::string_view(textEnd, kLineEnd.size()) != kLineEnd) {
      return {};
    }
    const char* const start = record.key().bytes().data();
    return std::string_view(start, static_cast<std::size_t>(textEnd + kLineEnd.size() - start));
  }
  return {};
}

Status SerializeTextTable(const TextTable& table, ByteSink& sink) {
  constexpr std::size_t kPiece = 64 * 1024;
  ByteBuffer piece(kPiece);
  std::size_t filled = 0;
  Status status;
  const auto hand = [&](std::string_view bytes) {
    if (status && !bytes.empty()) status = sink.Write({bytes});
  };
  // Small parts are gathered into the piece; a part too large for it goes on its own.
  const auto add = [&](std::string_view part) {
    if (filled + part.size() > kPiece) {
      hand(std::string_view(piece.data(), filled));
      filled = 0;
      if (part.size() > kPiece / 2) {
        hand(part);
        return;
      }
    }
    ByteBuffer::Copy(piece.data() + filled, part.data(), part.size());
    filled += part.size();
  };
  add(kMark);
  const std::pmr::vector<TextRecord>& records = table.Records();
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (!status) return status;
    // The records follow the keys' order, their bytes the files': asked for ahead of time.
    if (i + kAhead < records.size()) byte_scan::Prefetch(records[i + kAhead].key().bytes().data());
    const TextRecord& record = records[i];
    // Most lines are copied whole, as they lie in their file.
    if (const std::string_view line = table.LineOf(record); !line.empty()) {
      add(line);
      continue;
    }
    add(record.key().bytes());
    add(kSeparator);
    add(record.text().bytes());
    add(kLineEnd);
  }
  hand(std::string_view(piece.data(), filled));
  return status;
}

ByteBuffer SerializeTextTable(const TextTable& table) {
  // Sized once: a buffer that doubles as it fills holds the old and the new copy at once.
  std::size_t size = kMark.size();
  for (const TextRecord& record : table.Records()) {
    size += record.key().bytes().size() + kSeparator.size() + record.text().bytes().size() + kLineEnd.size();
  }
  ByteBuffer bytes;
  bytes.Reserve(size);
  BufferSink sink(bytes);
  (void)SerializeTextTable(table, sink);  // a buffer takes every write
  return bytes;
}

Status WriteTextTable(const TextTable& table, const std::string& path) {
  platform::FileSink file(path);
  // A failed write has dropped the file already.
  const Status status = SerializeTextTable(table, file);
  return status ? file.Commit() : status;
}

}  // namespace menuconv
