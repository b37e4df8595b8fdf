#include "texts/text_table.h"

#include <algorithm>
#include <cerrno>
#include <functional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "platform/file_io.h"
#include "texts/byte_file.h"

namespace menuconv {

namespace {

constexpr char16_t kTab = u'\t';
constexpr char16_t kLineFeed = u'\n';
constexpr char16_t kCarriageReturn = u'\r';

char16_t UnitAt(std::string_view data, std::size_t index) {
  const auto low = static_cast<unsigned char>(data[2 * index]);
  const auto high = static_cast<unsigned char>(data[2 * index + 1]);
  return static_cast<char16_t>(low | (high << 8));
}

// The first unit from `from` on that is `wanted` or U+0000, or `count` when there is none.
std::size_t Scan(std::string_view data, std::size_t from, std::size_t count, char16_t wanted) {
  std::size_t i = from;
  while (i < count) {
    const char16_t unit = UnitAt(data, i);
    if (unit == wanted || unit == 0) break;
    ++i;
  }
  return i;
}

void CopyUnits(std::string_view data, std::size_t from, std::size_t to, std::u16string& out) {
  out.resize(to - from);
  for (std::size_t i = from; i < to; ++i) out[i - from] = UnitAt(data, i);
}

void PutUnits(char*& out, const std::u16string& units) {
  for (const char16_t unit : units) {
    *out++ = static_cast<char>(unit & 0xFF);
    *out++ = static_cast<char>(unit >> 8);
  }
}

}  // namespace

namespace {

std::size_t HashOf(std::u16string_view key) { return std::hash<std::u16string_view>()(key); }

}  // namespace

bool TextTable::Insert(std::u16string key, std::u16string text) {
  if (2 * (entries_.size() + 1) > slots_.size()) Grow();
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t slot = HashOf(key) & mask;; slot = (slot + 1) & mask) {
    const uint32_t held = slots_[slot];
    if (held == 0) {
      if (entries_.size() >= 0xFFFFFFFEu) throw std::length_error("text table too large");
      entries_.emplace_back(std::move(key), std::move(text));
      slots_[slot] = static_cast<uint32_t>(entries_.size());
      ordered_ = false;
      return true;
    }
    if (entries_[held - 1].first == key) return false;
  }
}

void TextTable::Grow() {
  slots_.assign(std::max<std::size_t>(16, slots_.size() * 2), 0);
  const std::size_t mask = slots_.size() - 1;
  for (uint32_t i = 0; i < entries_.size(); ++i) {
    std::size_t slot = HashOf(entries_[i].first) & mask;
    while (slots_[slot] != 0) slot = (slot + 1) & mask;
    slots_[slot] = i + 1;
  }
}

const std::u16string* TextTable::Find(std::u16string_view key) const {
  if (slots_.empty()) return nullptr;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t slot = HashOf(key) & mask; slots_[slot] != 0; slot = (slot + 1) & mask) {
    const Entry& entry = entries_[slots_[slot] - 1];
    if (entry.first == key) return &entry.second;
  }
  return nullptr;
}

const std::vector<uint32_t>& TextTable::KeyOrder() const {
  if (!ordered_ || order_.size() != entries_.size()) {
    // Keys are distinct, so the order is total; units compare as unsigned values. Tables are
    // mostly merged from files that are sorted already: runs that are in order are only
    // merged, and the sort is for what is left.
    auto less = [this](uint32_t a, uint32_t b) { return entries_[a].first < entries_[b].first; };
    order_.resize(entries_.size());
    std::vector<std::size_t> runs{0};
    for (uint32_t i = 0; i < order_.size(); ++i) {
      order_[i] = i;
      if (i > 0 && less(i, i - 1)) runs.push_back(i);
    }
    if (runs.size() <= 8) {
      for (std::size_t r = 1; r < runs.size(); ++r) {
        const std::size_t end = r + 1 < runs.size() ? runs[r + 1] : order_.size();
        std::inplace_merge(order_.begin(), order_.begin() + static_cast<std::ptrdiff_t>(runs[r]),
                           order_.begin() + static_cast<std::ptrdiff_t>(end), less);
      }
    } else {
      std::sort(order_.begin(), order_.end(), less);
    }
    ordered_ = true;
  }
  return order_;
}

void TextTable::Clear() {
  std::vector<Entry>().swap(entries_);
  std::vector<uint32_t>().swap(slots_);
  std::vector<uint32_t>().swap(order_);
  ordered_ = true;
}

TextTable& ProcessTextTable() {
  static TextTable table;
  return table;
}

bool ReadTextLine(std::string_view data, std::size_t& position, std::u16string& key,
                  std::u16string& text) {
  const std::size_t count = data.size() / 2;
  if (position >= count) {
    position = count;
    return false;
  }
  const std::size_t tab = Scan(data, position, count, kTab);
  if (tab == count || UnitAt(data, tab) != kTab) {
    position = tab;
    return false;
  }
  CopyUnits(data, position, tab, key);
  const std::size_t start = tab + 1;
  const std::size_t cr = Scan(data, start, count, kCarriageReturn);
  CopyUnits(data, start, cr, text);
  if (cr < count && UnitAt(data, cr) == kCarriageReturn) {
    position = cr + 1;
    if (position < count && UnitAt(data, position) == kLineFeed) ++position;
  } else {
    position = cr;  // the end of the units, or a U+0000 unit where the reading stops
  }
  return true;
}

MergeResult MergeTextFile(TextTable& table, const std::string& path) {
  MergeResult result;
  ByteFile file;
  if (!file.ReadAll(path)) {
    if (file.LastError() == 0) {
      result.status = TextFileStatus::kEmpty;
    } else if (file.LastError() == ENOENT) {
      result.status = TextFileStatus::kMissing;
    } else {
      result.status = TextFileStatus::kNotATable;
      result.reason = file.ErrorText();
    }
    return result;
  }
  const std::string_view data(reinterpret_cast<const char*>(file.Data()),
                              static_cast<std::size_t>(file.Size()));
  if (data.size() < 2 || UnitAt(data, 0) != 0xFEFF) {
    result.status = TextFileStatus::kNotATable;
    result.reason = "no UTF-16 little-endian byte-order mark (FF FE)";
    return result;
  }
  std::size_t position = 1;  // the unit after the mark
  std::u16string key;
  std::u16string text;
  while (ReadTextLine(data, position, key, text)) {
    if (!text.empty() && table.Insert(std::move(key), std::move(text))) ++result.added;
  }
  if (position < data.size() / 2) {
    // Only a U+0000 unit stops the reading before the end.
    result.status = TextFileStatus::kNotATable;
    result.reason = "reading stopped at a U+0000 unit at byte " + std::to_string(2 * position);
    return result;
  }
  result.status = TextFileStatus::kMerged;
  return result;
}

MergeResult MergeTextFile(const std::string& path) {
  return MergeTextFile(ProcessTextTable(), path);
}

std::string SerializeTextTable(const TextTable& table) {
  std::size_t length = 2;
  for (const auto& [key, text] : table) length += 2 * (key.size() + 1 + text.size() + 2);
  std::string bytes(length, '\0');
  char* out = bytes.data();
  *out++ = '\xFF';
  *out++ = '\xFE';
  static const std::u16string kSeparator(1, kTab);
  static const std::u16string kLineEnd = {kCarriageReturn, kLineFeed};
  for (const auto& [key, text] : table) {
    PutUnits(out, key);
    PutUnits(out, kSeparator);
    PutUnits(out, text);
    PutUnits(out, kLineEnd);
  }
  return bytes;
}

bool WriteTextTable(const TextTable& table, const std::string& path, std::string* reason) {
  const std::string bytes = SerializeTextTable(table);
  const Status written = platform::WriteFileAtomically(path, {bytes});
  if (!written && reason != nullptr) *reason = written.reason;
  return written.ok;
}

bool WriteTextTable(const std::string& path) { return WriteTextTable(ProcessTextTable(), path); }

}  // namespace menuconv
