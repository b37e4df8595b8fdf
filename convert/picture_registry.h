// The pictures of the editor document: picture name to file path and grid size.
#pragma once

#include <cstdint>
#include <functional>
#include <deque>
#include <unordered_map>
#include <string>
#include <string_view>

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
    index_.clear();
    entries_.clear();
  }
  std::size_t Size() const { return entries_.size(); }
  // Adds the entry unless the name is present already; true when added.
  bool Insert(std::string_view name, PictureEntry entry);
  const PictureEntry* Find(std::string_view name) const;
  // The entry of the name; a name the picture list did not define gets an entry with an
  // empty path (and a warning, once).
  const PictureEntry& Lookup(std::string_view name);

 private:
  PictureEntry& Add(std::string_view name, PictureEntry entry);

  // Names are only ever looked up, never listed: a hash index over entries whose addresses
  // never change, so that references handed out stay valid.
  std::deque<std::pair<std::string, PictureEntry>> entries_;
  std::unordered_map<std::string_view, PictureEntry*> index_;
};

// The registry of the run.
PictureRegistry& ProcessPictureRegistry();

// Fills the registry from the IMAGE_MODULE children of a PICTURES_MODULE; the first entry of
// a name wins.
void ConvertPictures(ElementRef picturesModule, const XmlDocument& document,
                     PictureRegistry& registry = ProcessPictureRegistry());

const PictureEntry& LookupPicture(std::string_view name,
                                  PictureRegistry& registry = ProcessPictureRegistry());

}  // namespace menuconv
