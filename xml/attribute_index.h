// The attributes of one element, read once and indexed by name, for a caller that asks one
// element for many names or wants each name once. The caller owns the index: reading an
// element changes nothing in the document, so readers on other threads are no concern.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "base/hash_index.h"
#include "xml/xml_document.h"

namespace menuconv {

class AttributeIndex {
 public:
  using Attribute = std::pair<std::string_view, std::string_view>;

  // Reads the element's attributes as written, repeated names included, in place of the
  // element read before. The views stay valid as long as the document's strings do.
  void Read(const ElementView& element);

  // The value that counts of the name (its first), or nothing.
  std::optional<std::string_view> Find(std::string_view name) const;
  // How many distinct names the element has.
  std::size_t DistinctCount() const { return index_.Size(); }
  // (name, value) of each distinct name, in the store's iteration order.
  std::vector<Attribute> InIterationOrder() const;

 private:
  // The first seven bytes and the length: equal keys of names up to seven bytes long mean
  // equal names.
  static uint64_t NameKey(std::string_view name);
  auto SameName(std::string_view name) const {
    return [this, name](uint32_t position) { return name.size() <= 7 || written_[position].first == name; };
  }

  std::vector<Attribute> written_;
  // The first occurrence of each name in written_, under its NameKey.
  HashIndex<uint32_t> index_;
};

}  // namespace menuconv
