#include "xml/attribute_index.h"

#include <algorithm>

#include "xml/attribute_order.h"

namespace menuconv {

uint64_t AttributeIndex::NameKey(std::string_view name) {
  // The lowest bit stays clear, as the index does not keep it.
  const std::size_t n = std::min<std::size_t>(name.size(), 7);
  uint64_t key = static_cast<uint64_t>(std::min<std::size_t>(name.size(), 127)) << 1;
  for (std::size_t i = 0; i < n; ++i) key |= static_cast<uint64_t>(static_cast<unsigned char>(name[i])) << (8 * i + 8);
  return key;
}

void AttributeIndex::Read(const ElementView& element) {
  written_.clear();
  element.ForEachWrittenAttribute(
      [this](std::string_view name, std::string_view value) { written_.emplace_back(name, value); });
  index_.Reset(written_.size());
  for (uint32_t i = 0; i < written_.size(); ++i) {
    const std::string_view name = written_[i].first;
    index_.Insert(NameKey(name), i, SameName(name));  // the first value stays
  }
}

std::optional<std::string_view> AttributeIndex::Find(std::string_view name) const {
  const uint32_t* position = index_.Find(NameKey(name), SameName(name));
  if (position == nullptr) return std::nullopt;
  return written_[*position].second;
}

std::vector<AttributeIndex::Attribute> AttributeIndex::InIterationOrder() const {
  // The hash index holds exactly the first occurrence of each name.
  std::vector<uint32_t> distinct;
  distinct.reserve(index_.Size());
  index_.ForEach([&distinct](uint32_t i) { distinct.push_back(i); });
  std::sort(distinct.begin(), distinct.end());
  const std::vector<uint32_t> order =
      IterationOrder(distinct.size(), [&](uint32_t i) { return written_[distinct[i]].first; });
  std::vector<Attribute> out;
  out.reserve(order.size());
  for (uint32_t i : order) out.push_back(written_[distinct[i]]);
  return out;
}

}  // namespace menuconv
