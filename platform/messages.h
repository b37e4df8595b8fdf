// How the run shows a failure message and a warning.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace menuconv::platform {

// Shows `text` under `caption` and returns once it was acknowledged. `details` (the system's
// reason, a position in a file) are shown where the platform has room for them.
void ShowMessage(const std::string& caption, const std::string& text,
                 const std::vector<std::string>& details);

// A warning: the outputs are unaffected, the user may want to know.
void ShowWarning(const std::string& text);

// Tests replace the two with recorders; an empty function restores the platform's own.
using MessageSink = std::function<void(const std::string& caption, const std::string& text,
                                       const std::vector<std::string>& details)>;
using WarningSink = std::function<void(const std::string& text)>;
// Each returns the sink it replaces.
MessageSink SetMessageSink(MessageSink sink);
WarningSink SetWarningSink(WarningSink sink);

}  // namespace menuconv::platform
