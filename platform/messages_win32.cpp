// Windows messages: a message box with no owner and the OK style; details and warnings go to
// the debugger output, since a GUI program has no console.
#include <windows.h>

#include "platform/messages.h"

namespace menuconv::platform {

void ShowMessage(const std::string& caption, const std::string& text, const std::vector<std::string>& errors,
                 const std::vector<std::string>& details) {
  for (const std::string& line : errors) OutputDebugStringA((line + "\n").c_str());
  for (const std::string& line : details) OutputDebugStringA((caption + ": " + line + "\n").c_str());
  MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK);
}

void ShowWarning(const std::string& where, const std::string& text) {
  OutputDebugStringA(((where.empty() ? "" : where + ": ") + "warning: " + text + "\n").c_str());
}

}  // namespace menuconv::platform
