#include "convert/module_attributes.h"

#include <cstring>
#include <stdexcept>

#include "base/byte_scan.h"

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

// A table of the names with one slot per name and no probing: a slot is chosen by the
// length and the first and last words of a name (the first and last eight bytes, four for
// names shorter than eight, cover every byte of a name of up to sixteen bytes), hashed with
// a multiplier picked at start so that no two names share a slot. A name is then found or
// ruled out with one slot and three comparisons, without a branch that depends on the name.
class NameTable {
 public:
  static constexpr unsigned kAbsent = static_cast<unsigned>(ModuleAttribute::kCount);

  NameTable() {
    for (const std::string_view name : kNames) {
      if (name.size() < kShortest || name.size() > kLongest) {
        throw std::logic_error("module attribute name out of the table's range");
      }
    }
    // Odd multipliers from a fixed sequence, the first of which that fits is kept: a few
    // tries, as 35 names fall into 256 slots without a clash about one time in ten.
    uint64_t multiplier = 0x9E3779B97F4A7C15ull;
    for (int tries = 0; tries < 10000; ++tries) {
      if (Fill(multiplier)) return;
      multiplier = (multiplier * 6364136223846793005ull + 1442695040888963407ull) | 1;
    }
    throw std::logic_error("module attribute names that no multiplier tells apart");
  }

  // The attribute's index, or kAbsent for a name the translations do not read: a plain
  // number, which the reading loop keeps in a register.
  unsigned Find(std::string_view name) const {
    if (name.size() - kShortest > kLongest - kShortest) return kAbsent;  // too short wraps around
    const uint64_t head = Head(name);
    const uint64_t tail = Tail(name);
    const Entry& entry = slots_[SlotOf(head, tail, name.size())];
    // Compared as one word, so that the outcome is selected rather than branched on: which of
    // a list's names are read and which are not follows no pattern a branch could learn.
    const bool same = ((entry.head ^ head) | (entry.tail ^ tail) | (entry.length ^ name.size())) == 0;
    return same ? entry.attribute : kAbsent;
  }

 private:
  static constexpr unsigned kSlotBits = 8;  // 256 slots for 35 names: a multiplier is soon found

  struct Entry {
    uint64_t head = 0;
    uint64_t tail = 0;
    uint8_t attribute = kAbsent;
    uint8_t length = 0;  // no name is empty: an empty slot matches none
  };

  // Places every name with this multiplier; false when two would share a slot.
  bool Fill(uint64_t multiplier) {
    multiplier_ = multiplier;
    slots_.fill(Entry{});
    for (std::size_t i = 0; i < kNames.size(); ++i) {
      const std::string_view name = kNames[i];
      Entry& slot = slots_[SlotOf(Head(name), Tail(name), name.size())];
      if (slot.length != 0) return false;
      slot = Entry{Head(name), Tail(name), static_cast<uint8_t>(i), static_cast<uint8_t>(name.size())};
    }
    return true;
  }

  static uint64_t Head(std::string_view name) {
    return name.size() >= 8 ? byte_scan::Load8(name.data()) : byte_scan::Load4(name.data());
  }
  static uint64_t Tail(std::string_view name) {
    return name.size() >= 8 ? byte_scan::Load8(name.data() + name.size() - 8)
                            : byte_scan::Load4(name.data() + name.size() - 4);
  }
  std::size_t SlotOf(uint64_t head, uint64_t tail, std::size_t length) const {
    return static_cast<std::size_t>(((head + (tail << 1) + length) * multiplier_) >> (64 - kSlotBits));
  }

  uint64_t multiplier_ = 0;
  std::array<Entry, std::size_t{1} << kSlotBits> slots_{};
};

// Built before main: a table built on first use would be asked on every read whether it is
// built yet.
const NameTable kNameTable;

}  // namespace

std::string_view ModuleAttributeName(ModuleAttribute attribute) { return kNames[static_cast<std::size_t>(attribute)]; }

std::optional<ModuleAttribute> FindModuleAttribute(std::string_view name) {
  const unsigned found = kNameTable.Find(name);
  if (found == NameTable::kAbsent) return std::nullopt;
  return static_cast<ModuleAttribute>(found);
}

void ModuleAttributes::Read(const ElementView& module) {
  text_ = module.Text();
  // Kept in a local while the list is read: a member would be stored and loaded again for
  // every attribute, one chained after the other.
  uint64_t present = 0;
  std::string_view* const values = values_.data();
  module.ForEachWrittenAttribute([&present, values](std::string_view name, std::string_view value) {
    // Without a branch: a name not read, or read before (the first value of a name counts),
    // writes its value to the spare entry past the names'.
    const unsigned attribute = kNameTable.Find(name);
    const uint64_t bit = uint64_t{1} << attribute;
    values[(present & bit) != 0 ? NameTable::kAbsent : attribute] = value;
    present |= bit;
  });
  present_ = present & ((uint64_t{1} << NameTable::kAbsent) - 1);
  // The widget's picture is asked into the cache now; the translation looks it up last.
  if (present_ & Bit(ModuleAttribute::keyImg)) pictures_->Prefetch(values_[Index(ModuleAttribute::keyImg)]);
}

}  // namespace menuconv
