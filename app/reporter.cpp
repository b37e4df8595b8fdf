#include "app/reporter.h"

#include "base/utf8.h"
#include "platform/codepage.h"
#include "platform/messages.h"

namespace menuconv {

std::string NameInWarning(std::string_view name) {
  constexpr std::size_t kLongest = 200;
  if (name.size() <= kLongest) return std::string(name);
  std::size_t cut = kLongest;
  if (platform::NarrowIsUtf8()) {
    while (cut > 0 && IsUtf8Continuation(static_cast<unsigned char>(name[cut]))) --cut;
  }
  return std::string(name.substr(0, cut)) + "...";
}

std::string PlaceInFile(const std::string& path, std::size_t line, std::size_t column) {
  return path + ":" + std::to_string(line) + ":" + std::to_string(column);
}

void PlatformReporter::Failure(const std::string& caption, const std::string& text,
                               const std::vector<std::string>& errors, const std::vector<std::string>& details) {
  platform::ShowMessage(caption, text, errors, details);
}

void PlatformReporter::Warning(const std::string& where, const std::string& text) {
  platform::ShowWarning(where, text);
}

}  // namespace menuconv
