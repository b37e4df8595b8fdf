#include "convert/picture_registry.h"

#include <algorithm>
#include <cstring>

#include "base/byte_scan.h"

namespace menuconv {

uint64_t PictureRegistry::HashOf(std::string_view name) {
  // Eight bytes at a time, each word mixed in by one multiplication (the last word overlaps
  // the one before it): a picture name of up to eight bytes costs one, where a byte at a
  // time cost a chain of eight. The index spreads the result over its slots.
  constexpr uint64_t kMix = 0xFF51AFD7ED558CCDull;
  const char* const p = name.data();
  const std::size_t n = name.size();
  uint64_t h = (n + 1) * 0x9E3779B97F4A7C15ull;
  if (n >= 8) {
    for (std::size_t i = 0; i + 8 < n; i += 8) h = (h ^ byte_scan::Load8(p + i)) * kMix;
    h = (h ^ byte_scan::Load8(p + n - 8)) * kMix;
  } else if (n >= 4) {
    h = (h ^ (byte_scan::Load4(p) | uint64_t{byte_scan::Load4(p + n - 4)} << 32)) * kMix;
  } else if (n > 0) {
    const auto byte = [p](std::size_t i) { return uint64_t{static_cast<unsigned char>(p[i])}; };
    h = (h ^ (byte(0) | byte(n / 2) << 8 | byte(n - 1) << 16)) * kMix;
  }
  return h ^ (h >> 29);
}

char* PictureRegistry::Room(std::size_t bytes) {
  constexpr std::size_t kBlock = std::size_t{64} << 10;
  if (bytes > left_) {
    left_ = std::max(kBlock, bytes);
    blocks_.emplace_back(new char[left_]);  // left unwritten until filled
    free_ = blocks_.back().get();
  }
  char* const room = free_;
  free_ += bytes;
  left_ -= bytes;
  return room;
}

bool PictureRegistry::Insert(std::string_view name, PictureEntry entry) {
  if (Find(name) != nullptr) return false;
  char* const stored = Room(name.size() + entry.path.size());
  if (!name.empty()) std::memcpy(stored, name.data(), name.size());
  if (!entry.path.empty()) std::memcpy(stored + name.size(), entry.path.data(), entry.path.size());
  entry.path = std::string_view(stored + name.size(), entry.path.size());
  index_.Insert(HashOf(name), Named{std::string_view(stored, name.size()), entry},
                [](const Named&) { return false; });  // absent
  return true;
}

const PictureEntry* PictureRegistry::Find(std::string_view name) const {
  const Named* found = index_.Find(HashOf(name), [name](const Named& e) { return byte_scan::SameBytes(e.name, name); });
  return found ? &found->entry : nullptr;
}

const PictureEntry& PictureLookup::operator()(std::string_view name) const {
  if (const PictureEntry* entry = registry_->Find(name)) return *entry;
  notes_->push_back(BuildNote{BuildNote::Kind::kUndefinedPicture, std::string(name), module_});
  static const PictureEntry undefined;
  return undefined;
}

void ConvertPictures(ElementRef picturesModule, const XmlDocument& document, PictureRegistry& registry) {
  // Sized first: growing the index step by step wrote twice its final size in fresh memory.
  std::size_t count = 0;
  for (ElementRef child = document.FirstChild(picturesModule); !child.IsNone(); child = document.NextSibling(child)) {
    count += document.Element(child).HasName("IMAGE_MODULE") ? 1 : 0;
  }
  registry.Clear(count);
  for (ElementRef child = document.FirstChild(picturesModule); !child.IsNone(); child = document.NextSibling(child)) {
    const ElementView image = document.Element(child);
    if (!image.HasName("IMAGE_MODULE")) continue;
    PictureEntry entry;
    entry.path = image.FindAttribute("path").value_or(std::string_view());  // copied by Insert
    image.GetAttributeInt("column", entry.column);
    image.GetAttributeInt("row", entry.row);
    registry.Insert(image.Text(), entry);
  }
}

}  // namespace menuconv
