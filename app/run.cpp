#include "app/run.h"

#include "app/text_table_step.h"
#include "convert/menu_builder.h"
#include "convert/picture_registry.h"
#include "platform/messages.h"
#include "xml/xml_file.h"

namespace menuconv {

namespace {

constexpr const char* kLoadFailed = "Cannot load file, check file exist!";
constexpr const char* kConvertFailed = "Cannot reparsing file!";

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
  MenuRunState state;
  for (ElementRef q = first; !q.IsNone(); q = document.NextSibling(q)) {
    if (document.Element(q).HasName("MENU_MODULE") && !ConvertMenu(q, document, state)) return false;
  }
  return true;
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
