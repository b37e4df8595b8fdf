#include "convert/module_attributes.h"

#include <cstring>
#include <stdexcept>

#include "base/byte_scan.h"
#include "base/hash_index.h"

namespace menuconv {

namespace {

constexpr std::array<std::string_view, static_cast<std::size_t>(ModuleAttribute::kCount)> kNames{"_keyImg",
                                                                                                 "ld.x",
                                                                                                 "ld.y",
                                                                                                 "lu.x",
                                                                                                 "lu.y",
                                                                                                 "rd.x",
                                                                                                 "rd.y",
                                                                                                 "ru.x",
                                                                                                 "ru.y",
                                                                                                 "_colObj",
                                                                                                 "_iAlph",
                                                                                                 "_sModeDraw",
                                                                                                 "_keyText",
                                                                                                 "_sFont",
                                                                                                 "_keyImgCenter",
                                                                                                 "_keyImgBack",
                                                                                                 "_fSpeed",
                                                                                                 "_iAlign",
                                                                                                 "_keyImgSelector",
                                                                                                 "_intNumChar",
                                                                                                 "_keyImgMask",
                                                                                                 "_keyImgTexture",
                                                                                                 "_fXScale",
                                                                                                 "_fYScale",
                                                                                                 "_fXVel",
                                                                                                 "_fYVel",
                                                                                                 "_fCenterX",
                                                                                                 "_fCenterY",
                                                                                                 "_iLeft_up",
                                                                                                 "_iLeft_down",
                                                                                                 "_iRight_down",
                                                                                                 "_iRight_up",
                                                                                                 "_fAltitudeMax",
                                                                                                 "_fVelMax",
                                                                                                 "_fTimeOne"};

constexpr std::size_t kShortest = 4;
constexpr std::size_t kLongest = 16;

// A hash table of the names, keyed by the length and the first and last words: the first
// and last eight bytes (four for names shorter than eight) cover every byte of a name of up
// to sixteen bytes. The hash holds the length above the bit the table drops, so of two
// names with equal hashes and equal words the lengths are equal too, and a candidate is
// checked with two comparisons of whole words.
class NameTable {
 public:
  NameTable() {
    table_.Reset(kNames.size());
    for (std::size_t i = 0; i < kNames.size(); ++i) {
      const std::string_view name = kNames[i];
      if (name.size() < kShortest || name.size() > kLongest) {
        throw std::logic_error("module attribute name out of the table's range");
      }
      const Entry entry{Head(name), Tail(name), static_cast<uint8_t>(i)};
      table_.Insert(HashOf(entry.head, entry.tail, name.size()), entry, [](const Entry&) { return false; });
    }
  }

  std::optional<ModuleAttribute> Find(std::string_view name) const {
    if (name.size() < kShortest || name.size() > kLongest) return std::nullopt;
    const uint64_t head = Head(name);
    const uint64_t tail = Tail(name);
    const Entry* entry = table_.Find(HashOf(head, tail, name.size()),
                                     [head, tail](const Entry& e) { return e.head == head && e.tail == tail; });
    if (entry == nullptr) return std::nullopt;
    return static_cast<ModuleAttribute>(entry->attribute);
  }

 private:
  struct Entry {
    uint64_t head = 0;
    uint64_t tail = 0;
    uint8_t attribute = 0;
  };

  static uint64_t Head(std::string_view name) {
    return name.size() >= 8 ? byte_scan::Load8(name.data()) : byte_scan::Load4(name.data());
  }
  static uint64_t Tail(std::string_view name) {
    return name.size() >= 8 ? byte_scan::Load8(name.data() + name.size() - 8)
                            : byte_scan::Load4(name.data() + name.size() - 4);
  }
  static uint64_t HashOf(uint64_t head, uint64_t tail, std::size_t length) {
    return head + tail + (uint64_t{length} << 1);
  }

  HashIndex<Entry> table_;
};

// Built before main: a table built on first use would be asked on every read whether it is
// built yet.
const NameTable kNameTable;

}  // namespace

std::string_view ModuleAttributeName(ModuleAttribute attribute) { return kNames[static_cast<std::size_t>(attribute)]; }

std::optional<ModuleAttribute> FindModuleAttribute(std::string_view name) { return kNameTable.Find(name); }

void ModuleAttributes::Read(const ElementView& module) {
  text_ = module.Text();
  present_ = 0;
  module.ForEachWrittenAttribute([&](std::string_view name, std::string_view value) {
    const std::optional<ModuleAttribute> attribute = kNameTable.Find(name);
    if (!attribute || (present_ & Bit(*attribute))) return;  // the first value of a name counts
    present_ |= Bit(*attribute);
    values_[Index(*attribute)] = value;
  });
}

}  // namespace menuconv
