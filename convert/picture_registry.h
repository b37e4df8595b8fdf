// The pictures of the editor document: picture name to file path and grid size.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/hash_index.h"
#include "xml/xml_document.h"

namespace menuconv {

struct PictureEntry {
  std::string path;
  // A picture list entry that gives no column or row count, and an entry added for a name
  // the list does not define, count as one single picture.
  int32_t column = 1;
  int32_t row = 1;
};

class PictureRegistry {
 public:
  void Clear() {
    index_.Reset();
    entries_.clear();
  }
  std::size_t Size() const { return entries_.size(); }
  // Adds the entry unless the name is present already; true when added.
  bool Insert(std::string_view name, PictureEntry entry);
  const PictureEntry* Find(std::string_view name) const;

 private:
  PictureEntry& Add(std::string_view name, PictureEntry entry);
  static uint64_t HashOf(std::string_view name);

  // Names are only ever looked up, never listed: a hash index over entries whose addresses
  // never change, so that references handed out stay valid.
  using Named = std::pair<std::string, PictureEntry>;
  std::deque<Named> entries_;
  HashIndex<const Named*> index_;
};

// Fills the registry from the IMAGE_MODULE children of a PICTURES_MODULE; the first entry of
// a name wins.
void ConvertPictures(ElementRef picturesModule, const XmlDocument& document, PictureRegistry& registry);

// Something met while building widgets that a warning may follow, kept so that warnings show
// in document order however the building was shared out.
struct BuildNote {
  enum class Kind : uint8_t { kUnhandledModule, kUndefinedPicture };
  Kind kind;
  std::string name;
  ElementRef element;  // the module, whose start tag the warning points at
};

// Picture lookups that leave the registry unchanged, so that several threads may make them
// at once: a name the list does not define gives an empty single picture and is noted, for
// the caller to warn about and add in document order.
class PictureLookup {
 public:
  PictureLookup(const PictureRegistry& registry, std::vector<BuildNote>& notes)
      : registry_(&registry), notes_(&notes) {}
  const PictureEntry& operator()(std::string_view name) const;
  // The module whose pictures are looked up next, for the notes.
  void SetModule(ElementRef module) { module_ = module; }

 private:
  const PictureRegistry* registry_;
  std::vector<BuildNote>* notes_;
  ElementRef module_;
};

}  // namespace menuconv
