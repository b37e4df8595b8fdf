// The platform's own way of showing a message and a warning, used when no sink replaces it.
#pragma once

#include <string>
#include <vector>

namespace menuconv::platform {

void ShowMessageNative(const std::string& caption, const std::string& text,
                       const std::vector<std::string>& details);
void ShowWarningNative(const std::string& text);

}  // namespace menuconv::platform
