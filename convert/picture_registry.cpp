#include "convert/picture_registry.h"

#include <algorithm>


namespace menuconv {

uint64_t PictureRegistry::HashOf(std::string_view name) {
  // FNV-1a over the bytes, then a final mix so that the low bits used for the slot depend on
  // every byte.
  uint64_t h = 14695981039346656037ull;
  for (char c : name) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return h ^ (h >> 29);
}

PictureEntry& PictureRegistry::Add(std::string_view name, PictureEntry entry) {
  if (2 * (entries_.size() + 1) > slots_.size()) {
    std::vector<Slot> grown(std::max<std::size_t>(64, slots_.size() * 2));
    for (const Slot& slot : slots_) {
      if (slot.entry == nullptr) continue;
      std::size_t at = slot.hash & (grown.size() - 1);
      while (grown[at].entry != nullptr) at = (at + 1) & (grown.size() - 1);
      grown[at] = slot;
    }
    slots_.swap(grown);
  }
  auto& stored = entries_.emplace_back(std::string(name), std::move(entry));
  const uint64_t hash = HashOf(stored.first);
  std::size_t at = hash & (slots_.size() - 1);
  while (slots_[at].entry != nullptr) at = (at + 1) & (slots_.size() - 1);
  slots_[at] = Slot{hash, &stored};
  return stored.second;
}

bool PictureRegistry::Insert(std::string_view name, PictureEntry entry) {
  if (Find(name) != nullptr) return false;
  Add(name, std::move(entry));
  return true;
}

const PictureEntry* PictureRegistry::Find(std::string_view name) const {
  if (slots_.empty()) return nullptr;
  const uint64_t hash = HashOf(name);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t at = hash & mask; slots_[at].entry != nullptr; at = (at + 1) & mask) {
    if (slots_[at].hash == hash && slots_[at].entry->first == name) return &slots_[at].entry->second;
  }
  return nullptr;
}

const PictureEntry& PictureLookup::operator()(std::string_view name) const {
  if (const PictureEntry* entry = registry_->Find(name)) return *entry;
  notes_->push_back(BuildNote{BuildNote::Kind::kUndefinedPicture, std::string(name)});
  static const PictureEntry undefined;
  return undefined;
}

void ConvertPictures(ElementRef picturesModule, const XmlDocument& document, PictureRegistry& registry) {
  registry.Clear();
  for (ElementRef child = document.FirstChild(picturesModule); !child.IsNone();
       child = document.NextSibling(child)) {
    const ElementView image = document.Element(child);
    if (!image.HasName("IMAGE_MODULE")) continue;
    PictureEntry entry;
    entry.path = image.GetAttribute("path");
    image.GetAttributeInt("column", entry.column);
    image.GetAttributeInt("row", entry.row);
    registry.Insert(image.Text(), std::move(entry));
  }
}

}  // namespace menuconv
