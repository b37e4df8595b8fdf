#include "app/reporter.h"

#include "platform/messages.h"

namespace menuconv {

void PlatformReporter::Failure(const std::string& caption, const std::string& text,
                               const std::vector<std::string>& details) {
  platform::ShowMessage(caption, text, details);
}

void PlatformReporter::Warning(const std::string& text) { platform::ShowWarning(text); }

}  // namespace menuconv
