// How the platform shows a failure message and a warning.
#pragma once

#include <string>
#include <vector>

namespace menuconv::platform {

// Shows `text` under `caption` and returns once it was acknowledged. `errors` (lines
// "DOC:LINE:COL: error: REASON" that point at the input) and `details` (the system's reason)
// are shown where the platform has room for them.
void ShowMessage(const std::string& caption, const std::string& text, const std::vector<std::string>& errors,
                 const std::vector<std::string>& details);

// A warning: the outputs are unaffected, the user may want to know. `where` is
// "DOC:LINE:COL" for a place in the document, a file's path for a whole file, or empty.
void ShowWarning(const std::string& where, const std::string& text);

}  // namespace menuconv::platform
