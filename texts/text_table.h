// Text tables: UTF-16 files of records, each a key and a text, and the table they are merged
// into.
//
// File format, for reading and writing alike (every unit little-endian):
//   the byte-order mark FF FE,
//   then per record: the key's units, TAB (09 00), the text's units, CR LF (0D 00 0A 00).
// Keys and texts are UTF-16 units kept exactly as they are: nothing is converted, trimmed or
// escaped. There is no header beyond the mark and no comment syntax: every record counts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <memory_resource>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_buffer.h"
#include "base/byte_sink.h"
#include "base/held_bytes.h"
#include "base/status.h"
#include "texts/table_memory.h"

namespace menuconv {

// UTF-16 little-endian units where they lie in a file's bytes: `size()` units, two bytes
// each, from `bytes()` on. Holds no copy: the bytes must outlive it.
class TextUnits {
 public:
  TextUnits() = default;
  TextUnits(const char* at, std::size_t units) : at_(at), units_(units) {}

  std::size_t size() const { return units_; }
  bool empty() const { return units_ == 0; }
  char16_t operator[](std::size_t i) const {
    return static_cast<char16_t>(static_cast<unsigned char>(at_[2 * i]) | static_cast<unsigned char>(at_[2 * i + 1])
                                                                              << 8);
  }
  // The units' bytes, as they lie in the file.
  std::string_view bytes() const { return std::string_view(at_, 2 * units_); }
  std::u16string ToU16String() const;

 private:
  const char* at_ = nullptr;
  std::size_t units_ = 0;
};

// The order of keys: units compared as unsigned values, and at an equal common part the
// shorter first: "B" before "a", "ab" before "abc", U+00E9 before U+0416.
// CompareUnits gives a negative number, 0 or a positive number as `a` comes before, is equal
// to or comes after `b`.
int CompareUnits(TextUnits a, TextUnits b);
inline bool UnitsLess(TextUnits a, TextUnits b) { return CompareUnits(a, b) < 0; }
bool UnitsEqual(TextUnits a, TextUnits b);

// One record of a file: a key and its text, the text's units right after the key's and its
// TAB, as ReadTextLine finds them. Neither is longer than kMaxUnits units.
class TextRecord {
 public:
  static constexpr std::size_t kMaxUnits = 0xFFFFFFFFu;

  TextRecord() = default;
  TextRecord(const char* key, std::size_t keyUnits, std::size_t textUnits)
      : key_(key), keyUnits_(static_cast<std::uint32_t>(keyUnits)), textUnits_(static_cast<std::uint32_t>(textUnits)) {}

  TextUnits key() const { return TextUnits(key_, keyUnits_); }
  TextUnits text() const { return TextUnits(key_ + 2 * (std::size_t{keyUnits_} + 1), textUnits_); }

 private:
  // Sixteen bytes: tables of tens of thousands of records are sorted and merged.
  const char* key_ = nullptr;
  std::uint32_t keyUnits_ = 0;
  std::uint32_t textUnits_ = 0;
};

// Reads the record that starts at unit `position` of `data`, little-endian UTF-16 units
// (unit i is bytes 2i and 2i+1; a final odd byte belongs to no unit).
// The key is every unit up to the first TAB; the text every unit after it up to the next
// CR, or, for a last record without a CR, up to the end of the units. After the CR an LF
// is skipped; any other unit starts the next record. A U+0000 unit ends the reading: met
// before the TAB there is no record, met after it the text ends there.
// True with the record set (views into `data`) and `position` past the record. False, with
// the record untouched, when no further record can be read, with `position` where the
// reading stopped: at a U+0000 unit or at the end of the units.
// `data` holds no more than TextRecord::kMaxUnits units.
bool ReadTextLine(std::string_view data, std::size_t& position, TextRecord& record);

// Text-table files merged into one table: the records in key order, each key once. Keys and
// texts are views into the files' bytes, which the table keeps.
class TextTable {
 public:
  TextTable() = default;
  // Moved, a table keeps its records in the memory they were made in; assigned, it could not.
  TextTable(TextTable&&) = default;
  TextTable& operator=(TextTable&&) = delete;
  TextTable(const TextTable&) = delete;
  TextTable& operator=(const TextTable&) = delete;

  // Reads the file and merges its records into the table: records with an empty text are
  // dropped, and of the records of one key the first wins, whether in an earlier file or
  // earlier in this one.
  // A missing or empty file contributes nothing and is no failure. A file that is not a
  // table is a failure, with the reason:
  //   - the system's error text, or "not a regular file", when it cannot be read;
  //   - "file too large" for more than TextRecord::kMaxUnits units (8 GiB);
  //   - "no UTF-16 little-endian byte-order mark (FF FE)" when it does not begin with FF FE
  //     (it contributes nothing);
  //   - "reading stopped at a U+0000 unit at byte N" when a U+0000 unit stops the reading
  //     before the end, with the offset N and that unit's line (1 + the LF units before it)
  //     and column (in bytes); the records read before it are merged.
  Status AddFile(const std::string& path);
  // The same for a file's bytes that were read already (see ReadFileBytes).
  Status AddBytes(HeldBytes bytes);
  // The first of the files that was cut short under the table since it was added, if any, as
  // its place in the order of the AddBytes calls (from 0): its records may end early or hold
  // what the file no longer does.
  std::optional<std::size_t> CutShortFile() const;
  // Makes room ahead for the records of files of that many bytes in all, so that the table
  // is not regrown (and held twice meanwhile) from one file to the next.
  void ReserveFor(std::size_t fileBytes);

  // The records in key order.
  const std::pmr::vector<TextRecord>& Records() const { return records_; }
  // The record's key, TAB, text and the CR LF after it, as they lie in its file; empty where
  // no CR LF follows the text there.
  std::string_view LineOf(const TextRecord& record) const;
  std::size_t Size() const { return records_.size(); }
  bool Empty() const { return records_.empty(); }

 private:
  std::vector<HeldBytes> files_;
  // First: the records live in it. On its own, so that a table moved keeps its records there.
  std::unique_ptr<TableMemory> memory_ = std::make_unique<TableMemory>();
  std::pmr::vector<TextRecord> records_{memory_.get()};
};

// The whole file for the table: FF FE, then every record in key order, in one pass. The
// first form writes the bytes to the sink in pieces, each valid only during the call: small
// parts gathered into pieces of up to 64 KiB, a key or text of more than 32 KiB on its own.
// It stops at the first failed write and gives its status.
Status SerializeTextTable(const TextTable& table, ByteSink& sink);
ByteBuffer SerializeTextTable(const TextTable& table);

// Replaces the file with the table (an empty table gives the two bytes FF FE), written as it
// is serialised. The file is written under a temporary name and renamed over the target only
// when complete: on failure the target is unchanged, and the reason says why.
Status WriteTextTable(const TextTable& table, const std::string& path);

}  // namespace menuconv
