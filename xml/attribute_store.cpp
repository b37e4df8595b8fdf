#include "xml/attribute_store.h"

#include <algorithm>
#include <charconv>
#include <climits>

#include "xml/attribute_reader.h"

namespace menuconv {

int32_t ParseDecimalInt(std::string_view text) {
  std::size_t i = 0;
  auto isSpace = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  while (i < text.size() && isSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t magnitude = 0;
  const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = std::min<int64_t>(magnitude * 10 + (text[i] - '0'), limit);
  }
  return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

std::string FormatDecimalInt(int32_t value) {
  char buffer[16];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

int64_t AttributeStore::IndexOf(std::string_view name) const {
  if (!index_.empty()) {
    auto range = index_.equal_range(AttributeNameHash(name));
    for (auto it = range.first; it != range.second; ++it) {
      if (entries_[it->second].name == name) return it->second;
    }
    return -1;
  }
  for (std::size_t i = 0; i < size_; ++i) {
    if (entries_[i].name == name) return static_cast<int64_t>(i);
  }
  return -1;
}

std::optional<std::string_view> AttributeStore::Find(std::string_view name) const {
  const int64_t i = IndexOf(name);
  if (i < 0) return std::nullopt;
  return std::string_view(entries_[static_cast<std::size_t>(i)].value);
}

void AttributeStore::Set(std::string_view name, std::string_view value) {
  const int64_t i = IndexOf(name);
  if (i >= 0) {
    entries_[static_cast<std::size_t>(i)].value.assign(value);
    return;
  }
  Insert(name, value);
}

bool AttributeStore::Insert(std::string_view name, std::string_view value) {
  if (IndexOf(name) >= 0) return false;
  const auto position = static_cast<uint32_t>(size_);
  if (size_ == entries_.size()) entries_.emplace_back();
  entries_[size_].name.assign(name);
  entries_[size_].value.assign(value);
  entries_[size_].scrambled = ScrambledNameHash(name);
  ++size_;
  if (size_ > kIndexThreshold) {
    if (index_.empty()) {
      for (uint32_t i = 0; i < size_; ++i) {
        index_.emplace(AttributeNameHash(entries_[i].name), i);
      }
    } else {
      index_.emplace(AttributeNameHash(name), position);
    }
  }
  return true;
}

void AttributeStore::Clear() {
  // Small spare entries are kept for reuse; a store that held very many gives them back.
  if (entries_.size() > 4 * kIndexThreshold) entries_.clear();
  size_ = 0;
  index_.clear();
}

std::vector<uint32_t> AttributeStore::Order() const {
  std::vector<uint32_t> order(size_);
  for (uint32_t i = 0; i < size_; ++i) order[i] = i;
  // The bucket comes from the hash kept with each entry.
  SortInIterationOrder(
      order, BucketCount(), [this](uint32_t i) { return entries_[i].scrambled; },
      [this](uint32_t i) { return std::string_view(entries_[i].name); });
  return order;
}

}  // namespace menuconv
