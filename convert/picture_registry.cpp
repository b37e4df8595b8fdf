#include "convert/picture_registry.h"

namespace menuconv {

uint64_t PictureRegistry::HashOf(std::string_view name) {
  // FNV-1a over the bytes; the index spreads it over its slots.
  uint64_t h = 14695981039346656037ull;
  for (char c : name) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return h;
}

PictureEntry& PictureRegistry::Add(std::string_view name, PictureEntry entry) {
  Named& stored = entries_.emplace_back(std::string(name), std::move(entry));
  index_.Insert(HashOf(name), &stored, [](const Named*) { return false; });  // known to be absent
  return stored.second;
}

bool PictureRegistry::Insert(std::string_view name, PictureEntry entry) {
  if (Find(name) != nullptr) return false;
  Add(name, std::move(entry));
  return true;
}

const PictureEntry* PictureRegistry::Find(std::string_view name) const {
  const Named* const* found = index_.Find(HashOf(name), [name](const Named* e) { return e->first == name; });
  return found ? &(*found)->second : nullptr;
}

const PictureEntry& PictureLookup::operator()(std::string_view name) const {
  if (const PictureEntry* entry = registry_->Find(name)) return *entry;
  notes_->push_back(BuildNote{BuildNote::Kind::kUndefinedPicture, std::string(name), module_});
  static const PictureEntry undefined;
  return undefined;
}

void ConvertPictures(ElementRef picturesModule, const XmlDocument& document, PictureRegistry& registry) {
  registry.Clear();
  for (ElementRef child = document.FirstChild(picturesModule); !child.IsNone(); child = document.NextSibling(child)) {
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
