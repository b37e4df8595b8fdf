#include "convert/menu_builder.h"

#include <array>
#include <filesystem>

#include "convert/widgets.h"
#include "platform/file_io.h"
#include "platform/messages.h"
#include "xml/encodings.h"
#include "xml/xml_file.h"

namespace menuconv {

namespace {

using Translation = void (*)(const ElementView&, XmlElement&);

void ConvertSprite(const ElementView& module, XmlElement& element) {
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

constexpr std::array<std::string_view, 6> kRootAttributes{
    "on_create_anim", "on_del_anim", "ctr", "dtr", "cdur", "ddur"};

Translation FindTranslation(std::string_view moduleName) {
  for (const DispatchRow& row : kDispatch) {
    if (row.module == moduleName) return row.translate;
  }
  return nullptr;
}

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

}  // namespace

bool EscapesCurrentFolder(std::string_view name) {
  const std::string_view separators = platform::PathSeparators();
  if (platform::IsAbsolutePath(name)) return true;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of(separators, start);
    if (end == std::string_view::npos) end = name.size();
    if (name.substr(start, end - start) == "..") return true;
    start = end + 1;
  }
  return false;
}

bool ConvertMenu(ElementRef menuModule, const XmlDocument& input, MenuRunState& state) {
  const ElementView screen = input.Element(menuModule);
  // The menu document is written as it is built, in the form a saved document takes: the
  // root "menu" with its six attributes and no text, then one childless element per widget.
  XmlElement root;
  root.name = "menu";
  for (std::string_view name : kRootAttributes) root.SetAttribute(name, screen.GetAttribute(name));
  ByteBuffer body;
  AppendStartTag(body, 0, root.name, root.attributes);
  bool hasWidgets = false;

  XmlElement widget;
  for (ElementRef child = screen.FirstChild(); !child.IsNone(); child = input.NextSibling(child)) {
    const ElementView module = input.Element(child);
    const Translation translate = FindTranslation(module.Name());
    if (!translate) {
      if (EndsWith(module.Name(), "_MODULE") && state.unhandledModules.emplace(module.Name()).second) {
        platform::ShowWarning("screen \"" + std::string(screen.Text()) + "\": " +
                              std::string(module.Name()) + " is not converted");
      }
      continue;
    }
    translate(module, widget);
    if (!hasWidgets) body.Append('>');
    hasWidgets = true;
    AppendChildlessElement(body, 1, widget);
  }
  if (hasWidgets) {
    AppendEndTag(body, 0, root.name, true);
  } else {
    body.Append("/>");
  }

  const std::string fileName = std::string(screen.Text()) + ".xml";
  std::string reason;
  bool saved = false;
  if (EscapesCurrentFolder(fileName)) {
    reason = "the name leaves the current folder";
  } else {
    uint32_t codePage = XmlDocument().codePage;
    saved = SaveText(body, codePage, fileName, EncodingName(input), &reason);
  }
  if (!saved) {
    platform::ShowMessage(fileName, "Cannot save menu file", {reason});
    return false;
  }
  // "./a.xml" and "a.xml", or "sub//a.xml" and "sub/a.xml", name one file.
  const std::string sameFile = std::filesystem::path(fileName).lexically_normal().generic_string();
  if (!state.outputsWritten.emplace(sameFile).second) {
    platform::ShowWarning(fileName + ": written again by a later screen, which replaces it");
  }
  return true;
}

}  // namespace menuconv
