#include "app/run.h"

#include <future>
#include <optional>
#include <vector>

#include "app/text_table_step.h"
#include "convert/menu_builder.h"
#include "convert/picture_registry.h"
#include "platform/messages.h"
#include "xml/xml_file.h"

namespace menuconv {

namespace {

constexpr const char* kLoadFailed = "Cannot load file, check file exist!";
constexpr const char* kConvertFailed = "Cannot reparsing file!";

// Collects the warnings shown while it lives, to be shown later or never.
class WarningsHeld {
 public:
  explicit WarningsHeld(std::vector<std::string>& into)
      : shown_(platform::SetWarningSink([&into](const std::string& text) { into.push_back(text); })) {}
  ~WarningsHeld() { platform::SetWarningSink(std::move(shown_)); }
  WarningsHeld(const WarningsHeld&) = delete;
  WarningsHeld& operator=(const WarningsHeld&) = delete;

 private:
  platform::WarningSink shown_;
};

}  // namespace

bool ConvertDocument(const XmlDocument& document, std::string* why) {
  constexpr const char* kNoScreen = "no MENU_MODULE on the chain of first elements";
  ElementRef first = document.FirstElement();
  if (first.IsNone()) {
    if (why) *why = "the document holds no element";
    return false;
  }
  // Down the chain of first children only: siblings on the way are never examined.
  while (!document.Element(first).HasName("MENU_MODULE")) {
    first = document.FirstChild(first);
    if (first.IsNone()) {
      if (why) *why = kNoScreen;
      return false;
    }
  }
  for (ElementRef q = first; !q.IsNone(); q = document.NextSibling(q)) {
    if (document.Element(q).HasName("PICTURES_MODULE")) {
      ConvertPictures(q, document);
      break;
    }
  }
  // Each screen's file is written on a second thread while the next screen is built. The
  // outcome of a screen is reported before anything of the next one shows, and a failed save
  // ends the run before the next screen is written, as if one screen followed the other.
  MenuRunState state;
  std::optional<BuiltMenu> pending;
  std::future<SaveOutcome> writing;
  auto reportPending = [&]() {
    if (!pending) return true;
    const bool saved = ReportMenuSaved(*pending, writing.get(), state);
    pending.reset();
    return saved;
  };
  for (ElementRef q = first; !q.IsNone(); q = document.NextSibling(q)) {
    if (!document.Element(q).HasName("MENU_MODULE")) continue;
    std::vector<std::string> warnings;
    BuiltMenu built;
    {
      const WarningsHeld held(warnings);
      built = BuildMenu(q, document, state);
    }
    if (!reportPending()) return false;
    for (const std::string& text : warnings) platform::ShowWarning(text);
    pending = std::move(built);
    writing = std::async(std::launch::async, [menu = &*pending] { return SaveMenu(*menu); });
  }
  return reportPending();
}

int RunConversion(const std::string& path) {
  XmlDocument document;
  LoadStatus status;
  if (!Load(document, path, "", &status)) {
    platform::ShowMessage("Error", kLoadFailed, {path + ": " + status.reason});
    return 1;
  }
  // A text that ended inside a construct or an open element is not converted at all.
  if (!status.parse.ok) {
    platform::ShowMessage("Error", kConvertFailed,
                          {path + ":" + std::to_string(status.parse.line) + ":" +
                           std::to_string(status.parse.column) + ": the text ended inside " +
                           status.parse.what});
    return 1;
  }
  std::string why;
  if (!ConvertDocument(document, &why)) {
    std::vector<std::string> details;
    if (!why.empty()) details.push_back(path + ": " + why);
    platform::ShowMessage("Error", kConvertFailed, details);
    return 1;
  }
  RunTextTableStep(path);
  return 0;
}

}  // namespace menuconv
