// Text tables: UTF-16 files of records, each a key and a text, and the map they are merged
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
#include <iterator>
#include <utility>
#include <vector>
#include <string>
#include <string_view>

namespace menuconv {

// A map from key to text, ordered by the units of the keys compared as unsigned values
// (at equal common part the shorter key comes first): "B" before "a", "ab" before "abc".
// An entry, once added, keeps its text: the first record of a key wins.
class TextTable {
 public:
  using Entry = std::pair<std::u16string, std::u16string>;  // key, text

  // Adds the entry unless the key is already present. True when added.
  bool Insert(std::u16string key, std::u16string text);
  // The text of the key, or null.
  const std::u16string* Find(std::u16string_view key) const;

  std::size_t Size() const { return entries_.size(); }
  bool Empty() const { return entries_.empty(); }
  // The run never empties its table; tests start afresh with this.
  void Clear();

  // The entries in key order.
  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Entry;
    using difference_type = std::ptrdiff_t;
    using pointer = const Entry*;
    using reference = const Entry&;

    const_iterator(const TextTable* table, std::vector<uint32_t>::const_iterator at) : table_(table), at_(at) {}
    reference operator*() const { return table_->entries_[*at_]; }
    pointer operator->() const { return &table_->entries_[*at_]; }
    const_iterator& operator++() {
      ++at_;
      return *this;
    }
    bool operator==(const const_iterator& other) const { return at_ == other.at_; }
    bool operator!=(const const_iterator& other) const { return at_ != other.at_; }

   private:
    const TextTable* table_;
    std::vector<uint32_t>::const_iterator at_;
  };
  const_iterator begin() const { return const_iterator(this, KeyOrder().begin()); }
  const_iterator end() const { return const_iterator(this, KeyOrder().end()); }

 private:
  // Entries in the order added, a hash index over their keys, and the key order, put
  // together when it is first asked for after a change: merging whole files adds tens of
  // thousands of entries before the table is read in order once.
  const std::vector<uint32_t>& KeyOrder() const;
  void Grow();

  std::vector<Entry> entries_;
  std::vector<uint32_t> slots_;  // position + 1 in entries_; 0 is empty
  mutable std::vector<uint32_t> order_;
  mutable bool ordered_ = true;
};

// The process-wide table of the run: empty at start, only ever grown.
TextTable& ProcessTextTable();

// Reads the record that starts at unit `position` of `data`, little-endian UTF-16 units
// (unit i is bytes 2i and 2i+1; a final odd byte belongs to no unit).
// The key is every unit up to the first TAB; the text every unit after it up to the next
// CR, or, for a last record without a CR, up to the end of the units. After the CR an LF
// is skipped; any other unit starts the next record. A U+0000 unit ends the reading: met
// before the TAB there is no record, met after it the text ends there.
// True with key and text set and `position` past the record. False when no further
// record can be read, with `position` where the reading stopped: at a U+0000 unit or at
// the end of the units.
bool ReadTextLine(std::string_view data, std::size_t& position, std::u16string& key,
                  std::u16string& text);

// What MergeTextFile made of a file.
enum class TextFileStatus {
  kMerged,     // read as a text table (it may hold no record at all)
  kMissing,    // there is no such file
  kEmpty,      // a file of 0 bytes
  kNotATable,  // there, not empty, but not readable as a text table: see `reason`
};

struct MergeResult {
  TextFileStatus status = TextFileStatus::kMissing;
  // For kNotATable: the system's error text, "no UTF-16 little-endian byte-order mark
  // (FF FE)", or "reading stopped at a U+0000 unit at byte N".
  std::string reason;
  std::size_t added = 0;  // entries added to the table
};

// Adds the records of the file whose keys are not yet in the table; records with an empty
// text are passed over. A missing or empty file, or one that does not begin with FF FE,
// adds nothing. A file that stops at a U+0000 unit keeps the records read before it.
MergeResult MergeTextFile(TextTable& table, const std::string& path);
MergeResult MergeTextFile(const std::string& path);  // into ProcessTextTable()

// The whole file for the table: FF FE, then every entry in key order.
std::string SerializeTextTable(const TextTable& table);

// Replaces the file with the table (an empty table gives the two bytes FF FE). The file is
// written under a temporary name and renamed over the target only when complete: on
// failure the target is unchanged, and `reason`, when given, says why.
bool WriteTextTable(const TextTable& table, const std::string& path,
                    std::string* reason = nullptr);
bool WriteTextTable(const std::string& path);  // from ProcessTextTable()

}  // namespace menuconv
