// The pictures of the editor document: picture name to file path and grid size.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/hash_index.h"
#include "xml/xml_document.h"

namespace menuconv {

struct PictureEntry {
  // Handed to Insert, which copies it; as the registry gives it, a view into that copy.
  std::string_view path;
  // A picture list entry that gives no column or row count, and an entry added for a name
  // the list does not define, count as one single picture.
  int32_t column = 1;
  int32_t row = 1;
};

class PictureRegistry {
 public:
  // `backWithMemory`, when given, is asked to back the memory of a large index with pages
  // before the index is filled (see Clear).
  using BackWithMemory = void (*)(void* data, std::size_t bytes);
  explicit PictureRegistry(BackWithMemory backWithMemory = nullptr) : backWithMemory_(backWithMemory) {}
  // Entries view the registry's own copies of their names and paths.
  PictureRegistry(const PictureRegistry&) = delete;
  PictureRegistry& operator=(const PictureRegistry&) = delete;

  // Empties the registry, with room for `count` entries before its index grows.
  void Clear(std::size_t count = 0) {
    index_.Reset(count, backWithMemory_);
    blocks_.clear();
    free_ = nullptr;
    left_ = 0;
  }
  std::size_t Size() const { return index_.Size(); }
  // Adds the entry unless the name is present already; true when added.
  bool Insert(std::string_view name, PictureEntry entry);
  // The entry of the name, valid until the next Insert or Clear.
  const PictureEntry* Find(std::string_view name) const;
  // Starts bringing what a lookup of the name reads first into the cache.
  void Prefetch(std::string_view name) const { index_.Prefetch(HashOf(name)); }

 private:
  static uint64_t HashOf(std::string_view name);

  // Names are only ever looked up, never listed. The entries stand in the index itself, and
  // each one's name and path lie side by side in one copy: a lookup then reads the slot and
  // one more place, where a slot, an entry and a path each waited for memory (the list does
  // not stay in the cache beside the document).
  struct Named {
    std::string_view name;
    PictureEntry entry;
  };
  // Room for `bytes` more bytes of names and paths, which never move until Clear.
  char* Room(std::size_t bytes);

  // Each entry's name then path, in blocks of many entries: a string for each entry cost an
  // allocation, and on a fresh heap a first touch of a page every few dozen entries.
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* free_ = nullptr;
  std::size_t left_ = 0;
  BackWithMemory backWithMemory_;
  HashIndex<Named> index_;
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
  void Prefetch(std::string_view name) const { registry_->Prefetch(name); }
  // The module whose pictures are looked up next, for the notes.
  void SetModule(ElementRef module) { module_ = module; }

 private:
  const PictureRegistry* registry_;
  std::vector<BuildNote>* notes_;
  ElementRef module_;
};

}  // namespace menuconv
