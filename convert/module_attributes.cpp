#include "convert/module_attributes.h"

#include <cstring>
#include <stdexcept>

namespace menuconv {

namespace {

constexpr std::array<std::string_view, static_cast<std::size_t>(ModuleAttribute::kCount)> kNames{
    "_keyImg",       "ld.x",           "ld.y",       "lu.x",           "lu.y",
    "rd.x",          "rd.y",           "ru.x",       "ru.y",           "_colObj",
    "_iAlph",        "_sModeDraw",     "_keyText",   "_sFont",         "_keyImgCenter",
    "_keyImgBack",   "_fSpeed",        "_iAlign",    "_keyImgSelector", "_intNumChar",
    "_keyImgMask",   "_keyImgTexture", "_fXScale",   "_fYScale",       "_fXVel",
    "_fYVel",        "_fCenterX",      "_fCenterY",  "_iLeft_up",      "_iLeft_down",
    "_iRight_down",  "_iRight_up",     "_fAltitudeMax", "_fVelMax",    "_fTimeOne"};

constexpr std::size_t kShortest = 4;
constexpr std::size_t kLongest = 16;

// Open addressing over the names, keyed by the length and the first and last words.
// A slot holds the name's length and its first and last eight bytes (four for names
// shorter than eight), which together cover every byte of a name of up to sixteen bytes, so
// a candidate is checked with two comparisons of whole words.
class NameTable {
 public:
  NameTable() {
    for (std::size_t i = 0; i < kNames.size(); ++i) {
      const std::string_view name = kNames[i];
      if (name.size() < kShortest || name.size() > kLongest) {
        throw std::logic_error("module attribute name out of the table's range");
      }
      std::size_t slot = SlotOf(Head(name), Tail(name), name.size());
      while (slots_[slot].length != 0) slot = (slot + 1) & kMask;
      slots_[slot] = Entry{static_cast<uint8_t>(name.size()), static_cast<uint8_t>(i), Head(name), Tail(name)};
    }
  }

  std::optional<ModuleAttribute> Find(std::string_view name) const {
    if (name.size() < kShortest || name.size() > kLongest) return std::nullopt;
    const uint64_t head = Head(name);
    const uint64_t tail = Tail(name);
    for (std::size_t slot = SlotOf(head, tail, name.size());; slot = (slot + 1) & kMask) {
      const Entry& entry = slots_[slot];
      if (entry.head == head && entry.tail == tail && entry.length == name.size()) {
        return static_cast<ModuleAttribute>(entry.attribute);
      }
      if (entry.length == 0) return std::nullopt;
    }
  }

 private:
  static constexpr std::size_t kSize = 128;
  static constexpr std::size_t kMask = kSize - 1;
  struct Entry {
    uint8_t length = 0;  // 0: empty
    uint8_t attribute = 0;
    uint64_t head = 0;
    uint64_t tail = 0;
  };

  static uint64_t Load8(const char* p) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    return word;
  }
  static uint64_t Load4(const char* p) {
    uint32_t word;
    std::memcpy(&word, p, 4);
    return word;
  }
  static uint64_t Head(std::string_view name) {
    return name.size() >= 8 ? Load8(name.data()) : Load4(name.data());
  }
  static uint64_t Tail(std::string_view name) {
    return name.size() >= 8 ? Load8(name.data() + name.size() - 8) : Load4(name.data() + name.size() - 4);
  }
  static std::size_t SlotOf(uint64_t head, uint64_t tail, std::size_t length) {
    const uint64_t key = head ^ (tail * 0x9E3779B97F4A7C15ull) ^ length;
    return static_cast<std::size_t>((key * 0xD6E8FEB86659FD93ull) >> 57);
  }

  std::array<Entry, kSize> slots_{};
};

const NameTable& Names() {
  static const NameTable table;
  return table;
}

}  // namespace

std::string_view ModuleAttributeName(ModuleAttribute attribute) {
  return kNames[static_cast<std::size_t>(attribute)];
}

std::optional<ModuleAttribute> FindModuleAttribute(std::string_view name) { return Names().Find(name); }

void ModuleAttributes::Read(const ElementView& module) {
  text_ = module.Text();
  present_ = 0;
  const NameTable& names = Names();
  module.ForEachWrittenAttribute([&](std::string_view name, std::string_view value) {
    const std::optional<ModuleAttribute> attribute = names.Find(name);
    if (!attribute || (present_ & Bit(*attribute))) return;  // the first value of a name counts
    present_ |= Bit(*attribute);
    values_[Index(*attribute)] = value;
  });
}

}  // namespace menuconv
