#include "convert/menu_builder.h"

#include <array>
#include <cstdint>

#include "base/byte_scan.h"
#include "convert/widgets.h"
#include "xml/serializer.h"
#include "xml/xml_element.h"

namespace menuconv {

namespace {

using Translation = void (*)(const ModuleAttributes&, WidgetElement&);

void ConvertSprite(const ModuleAttributes& module, WidgetElement& element) {
  widget_detail::Begin(module, element, "sprite");
  ConvertSpriteAttributes(module, element);
}

struct DispatchRow {
  std::string_view module;
  Translation translate;
};

constexpr std::array<DispatchRow, 11> kDispatch{{
    {"SPRITE_MODULE", ConvertSprite},
    {"BTN_MODULE", ConvertButton},
    {"TEXT_MODULE", ConvertText},
    {"CHKBOX_MODULE", ConvertCheckBox},
    {"PROGRESS_MODULE", ConvertProgress},
    {"LIST_MODULE", ConvertList},
    {"EDIT_MODULE", ConvertEdit},
    {"QUAD_MODULE", ConvertQuad},
    {"WATER_MODULE", ConvertWater},
    {"CLOUD_MODULE", ConvertCloud},
    {"LEAF_MODULE", ConvertLeaf},
}};

constexpr std::array<std::string_view, 6> kRootAttributes{"on_create_anim", "on_del_anim", "ctr", "dtr",
                                                          "cdur",           "ddur"};

// The rows by a slot of their module's name: its length and first two bytes pick the slot, no
// two names share one, and one comparison confirms the row. Every widget is dispatched: a
// search through the rows compared most names of the same length as its own.
constexpr std::size_t kDispatchSlots = 16;

constexpr std::size_t DispatchSlot(std::string_view name) {
  return (name.size() * 5 + static_cast<unsigned char>(name[0]) + 3 * static_cast<unsigned char>(name[1])) &
         (kDispatchSlots - 1);
}

constexpr std::array<int, kDispatchSlots> MakeDispatchSlots() {
  std::array<int, kDispatchSlots> slots{};
  for (int& slot : slots) slot = -1;
  for (std::size_t row = 0; row < kDispatch.size(); ++row) {
    int& slot = slots[DispatchSlot(kDispatch[row].module)];
    if (slot != -1) throw "two module names share a dispatch slot";  // fails the constant evaluation
    slot = static_cast<int>(row);
  }
  return slots;
}

constexpr std::array<int, kDispatchSlots> kDispatchSlotRows = MakeDispatchSlots();

Translation FindTranslation(std::string_view moduleName) {
  if (moduleName.size() < 2) return nullptr;
  const int row = kDispatchSlotRows[DispatchSlot(moduleName)];
  if (row < 0 || !byte_scan::SameBytes(kDispatch[static_cast<std::size_t>(row)].module, moduleName)) return nullptr;
  return kDispatch[static_cast<std::size_t>(row)].translate;
}

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

}  // namespace

MenuPiece BuildMenuPiece(ElementRef firstChild, std::size_t maxChildren, const XmlDocument& input,
                         const PictureRegistry& registry, ByteBuffer body) {
  MenuPiece piece;
  piece.body = std::move(body);
  piece.body.Rewind();
  PictureLookup pictures(registry, piece.notes);
  ModuleAttributes attributes(pictures);
  WidgetElement widget;
  std::size_t seen = 0;
  for (ElementRef child = firstChild; !child.IsNone() && seen < maxChildren; child = input.NextSibling(child), ++seen) {
    const ElementView module = input.Element(child);
    const Translation translate = FindTranslation(module.Name());
    if (!translate) {
      if (EndsWith(module.Name(), "_MODULE")) {
        piece.notes.push_back(BuildNote{BuildNote::Kind::kUnhandledModule, std::string(module.Name()), child});
      }
      continue;
    }
    pictures.SetModule(child);
    attributes.Read(module);
    translate(attributes, widget);
    piece.hasWidgets = true;
    AppendChildlessElementWith(piece.body, 1, widget.name, widget.text,
                               [&widget](auto&& fn) { widget.ForEachAttribute(fn); });
  }
  return piece;
}

MenuText::MenuText(ElementRef menuModule, const XmlDocument& input) {
  const ElementView screen = input.Element(menuModule);
  XmlElement root;
  root.name = "menu";
  for (std::string_view name : kRootAttributes) root.SetAttribute(name, screen.GetAttribute(name));
  AppendStartTag(startTag_, 0, root.name, root.attributes);
  fileName_ = std::string(screen.Text()) + ".xml";
}

std::vector<ByteBuffer> MenuText::Add(MenuPiece piece) {
  std::vector<ByteBuffer> parts;
  if (!piece.hasWidgets) return parts;
  if (!started_) {
    // The root's start tag ends with ">" once a widget is known to follow.
    startTag_.Append('>');
    parts.push_back(std::move(startTag_));
    started_ = true;
  }
  parts.push_back(std::move(piece.body));
  return parts;
}

std::vector<ByteBuffer> MenuText::Finish() {
  std::vector<ByteBuffer> parts;
  if (!started_) {
    startTag_.Append("/>");
    parts.push_back(std::move(startTag_));
    started_ = true;
    return parts;
  }
  // The root's end tag, on a line of its own after the widgets.
  ByteBuffer tail;
  AppendEndTag(tail, 0, "menu", true);
  parts.push_back(std::move(tail));
  return parts;
}

}  // namespace menuconv
