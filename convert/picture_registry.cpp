#include "convert/picture_registry.h"

#include "platform/messages.h"

namespace menuconv {

bool PictureRegistry::Insert(std::string_view name, PictureEntry entry) {
  if (entries_.find(name) != entries_.end()) return false;
  entries_.emplace(std::string(name), std::move(entry));
  return true;
}

const PictureEntry* PictureRegistry::Find(std::string_view name) const {
  const auto it = entries_.find(name);
  return it == entries_.end() ? nullptr : &it->second;
}

const PictureEntry& PictureRegistry::Lookup(std::string_view name) {
  auto it = entries_.find(name);
  if (it == entries_.end()) {
    platform::ShowWarning("picture \"" + std::string(name) + "\" is not defined in the picture list");
    it = entries_.emplace(std::string(name), PictureEntry{}).first;
  }
  return it->second;
}

PictureRegistry& ProcessPictureRegistry() {
  static PictureRegistry registry;
  return registry;
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

const PictureEntry& LookupPicture(std::string_view name, PictureRegistry& registry) {
  return registry.Lookup(name);
}

}  // namespace menuconv
