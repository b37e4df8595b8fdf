// Opening a folder beneath another by descriptor: what is checked is what is used, even while
// someone swaps folders for links meanwhile.
#pragma once

#include <string_view>

#include "base/status.h"

namespace menuconv::platform {

// Opens the folder `relative` (folder names separated by "/"; empty for `base` itself) beneath
// the folder descriptor `base`, and gives its path descriptor (O_PATH). The folder must lie
// inside `base` once links are followed, or the failure's code is kNameLeavesFolder (and
// nothing is opened). Links that stay inside keep working.
Result<int> OpenFolderBeneath(int base, std::string_view relative);

}  // namespace menuconv::platform
