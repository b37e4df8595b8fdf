// How the platform shows a failure message and a warning.
#pragma once

#include <string>
#include <vector>

namespace menuconv::platform {

// Shows `text` under `caption` and returns once it was acknowledged. `details` (the system's
// reason, a position in a file) are shown where the platform has room for them.
void ShowMessage(const std::string& caption, const std::string& text, const std::vector<std::string>& details);

// A warning: the outputs are unaffected, the user may want to know.
void ShowWarning(const std::string& text);

}  // namespace menuconv::platform
