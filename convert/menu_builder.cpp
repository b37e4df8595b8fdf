#include "convert/menu_builder.h"

#include <array>
#include <cstdint>
#include <filesystem>

#include "convert/widgets.h"
#include "platform/file_io.h"
#include "platform/messages.h"
#include "xml/encodings.h"
#include "base/utf8.h"
#include "xml/xml_file.h"

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

MenuPiece BuildMenuPiece(ElementRef firstChild, std::size_t maxChildren, const XmlDocument& input,
                         const PictureRegistry& registry) {
  MenuPiece piece;
  const PictureLookup pictures(registry, piece.notes);
  ModuleAttributes attributes(&pictures);
  WidgetElement widget;
  std::size_t seen = 0;
  for (ElementRef child = firstChild; !child.IsNone() && seen < maxChildren; child = input.NextSibling(child), ++seen) {
    const ElementView module = input.Element(child);
    const Translation translate = FindTranslation(module.Name());
    if (!translate) {
      if (EndsWith(module.Name(), "_MODULE")) {
        piece.notes.push_back(BuildNote{BuildNote::Kind::kUnhandledModule, std::string(module.Name())});
      }
      continue;
    }
    attributes.Read(module);
    translate(attributes, widget);
    piece.hasWidgets = true;
    AppendChildlessElementWith(piece.body, 1, widget.name, widget.text,
                               [&widget](auto&& fn) { widget.ForEachAttribute(fn); });
  }
  return piece;
}

void ShowBuildNotes(const MenuPiece& piece, const ElementView& screen, MenuRunState& state) {
  for (const BuildNote& note : piece.notes) {
    if (note.kind == BuildNote::Kind::kUnhandledModule) {
      if (state.unhandledModules.emplace(note.name).second) {
        platform::ShowWarning("screen \"" + std::string(screen.Text()) + "\": " + note.name + " is not converted");
      }
    } else if (state.undefinedPictures.emplace(note.name).second) {
      WarnUndefinedPicture(note.name);
    }
  }
}

void AddUndefinedPictures(const MenuRunState& state, PictureRegistry& registry) {
  for (const std::string& name : state.undefinedPictures) registry.Insert(name, PictureEntry{});
}

namespace {

// The menu without its widgets: name, encoding, refusal, and the root's start tag up to its
// closing ">" or "/>".
BuiltMenu StartMenu(ElementRef menuModule, const XmlDocument& input) {
  BuiltMenu menu;
  const ElementView screen = input.Element(menuModule);
  // The document in the form a saved document takes: the root "menu" with its six
  // attributes and no text, then one childless element per widget.
  XmlElement root;
  root.name = "menu";
  for (std::string_view name : kRootAttributes) root.SetAttribute(name, screen.GetAttribute(name));
  ByteBuffer head;
  AppendStartTag(head, 0, root.name, root.attributes);
  menu.body.push_back(std::move(head));
  menu.fileName = std::string(screen.Text()) + ".xml";
  menu.encodingName = EncodingName(input);
  if (EscapesCurrentFolder(menu.fileName)) menu.refusal = "the name leaves the current folder";
  return menu;
}

// The root's end tag, on a line of its own after the widgets.
ByteBuffer EndOfMenu() {
  ByteBuffer tail;
  AppendEndTag(tail, 0, "menu", true);
  return tail;
}

// Closes the root's start tag and adds the pieces' widgets and the root's end tag.
void CompleteMenu(BuiltMenu& menu, std::vector<MenuPiece>& pieces) {
  bool hasWidgets = false;
  for (const MenuPiece& piece : pieces) hasWidgets = hasWidgets || piece.hasWidgets;
  menu.body.front().Append(hasWidgets ? ">" : "/>");
  for (MenuPiece& piece : pieces) {
    if (!piece.body.empty()) menu.body.push_back(std::move(piece.body));
  }
  if (hasWidgets) menu.body.push_back(EndOfMenu());
}

}  // namespace

BuiltMenu AssembleMenu(ElementRef menuModule, const XmlDocument& input, std::vector<MenuPiece>& pieces) {
  BuiltMenu menu = StartMenu(menuModule, input);
  CompleteMenu(menu, pieces);
  return menu;
}

MenuSaver::MenuSaver(ElementRef menuModule, const XmlDocument& input, bool writeAsTheyCome)
    : menu_(StartMenu(menuModule, input)) {
  uint32_t codePage = XmlDocument().codePage;
  declaration_ = SaveDeclaration(menu_.encodingName, codePage);
  streaming_ = writeAsTheyCome && menu_.refusal.empty() && codePage == 65001;
}

void MenuSaver::Add(MenuPiece piece) {
  pieces_.push_back(std::move(piece));
  if (streaming_ && !failed_) Write(pieces_.back());
}

// A piece goes out as it stands when it is well-formed UTF-8, as a whole document that is
// would; the first that is not turns this document back to being saved whole.
void MenuSaver::Write(const MenuPiece& piece) {
  if (!piece.hasWidgets) return;
  if (!IsValidUtf8(piece.body.view())) {
    file_.Abandon();
    streaming_ = false;
    return;
  }
  std::string reason;
  if (!file_.IsOpen()) {
    // The root's start tag ends with ">" once a widget is known to follow.
    if (!file_.Open(menu_.fileName, reason) ||
        !file_.Write({declaration_, menu_.body.front().view(), ">"}, reason)) {
      failed_ = SaveOutcome{false, reason};
      return;
    }
  }
  if (!file_.Write({piece.body.view()}, reason)) failed_ = SaveOutcome{false, reason};
}

SaveOutcome MenuSaver::Finish() {
  if (failed_) return *failed_;
  if (streaming_ && file_.IsOpen()) {
    const ByteBuffer tail = EndOfMenu();
    std::string reason;
    if (file_.Write({tail.view(), std::string_view("\0", 1)}, reason) && file_.Commit(reason)) {
      return SaveOutcome{true, {}};
    }
    return SaveOutcome{false, reason};
  }
  file_.Abandon();
  CompleteMenu(menu_, pieces_);
  return SaveMenu(menu_);
}

BuiltMenu BuildMenu(ElementRef menuModule, const XmlDocument& input, MenuRunState& state) {
  PictureRegistry& registry = ProcessPictureRegistry();
  std::vector<MenuPiece> pieces;
  pieces.push_back(BuildMenuPiece(input.FirstChild(menuModule), SIZE_MAX, input, registry));
  ShowBuildNotes(pieces.front(), input.Element(menuModule), state);
  AddUndefinedPictures(state, registry);
  return AssembleMenu(menuModule, input, pieces);
}

SaveOutcome SaveMenu(const BuiltMenu& menu) {
  SaveOutcome outcome;
  if (!menu.refusal.empty()) {
    outcome.reason = menu.refusal;
    return outcome;
  }
  // A new document's code page, which the encoding name then sets.
  uint32_t codePage = XmlDocument().codePage;
  std::vector<std::string_view> parts;
  for (const ByteBuffer& part : menu.body) parts.push_back(part.view());
  outcome.saved = SaveText(parts, codePage, menu.fileName, menu.encodingName, &outcome.reason);
  return outcome;
}

bool ReportMenuSaved(const BuiltMenu& menu, const SaveOutcome& outcome, MenuRunState& state) {
  if (!outcome.saved) {
    platform::ShowMessage(menu.fileName, "Cannot save menu file", {outcome.reason});
    return false;
  }
  // "./a.xml" and "a.xml", or "sub//a.xml" and "sub/a.xml", name one file.
  const std::string sameFile = std::filesystem::path(menu.fileName).lexically_normal().generic_string();
  if (!state.outputsWritten.emplace(sameFile).second) {
    platform::ShowWarning(menu.fileName + ": written again by a later screen, which replaces it");
  }
  return true;
}

bool ConvertMenu(ElementRef menuModule, const XmlDocument& input, MenuRunState& state) {
  const BuiltMenu menu = BuildMenu(menuModule, input, state);
  return ReportMenuSaved(menu, SaveMenu(menu), state);
}

}  // namespace menuconv
