// Opening a folder beneath another by descriptor: what is checked is what is used, even while
// someone swaps folders for links meanwhile.
#pragma once

#include <string_view>

#include "base/status.h"

namespace menuconv::platform {

// Opens the folder `relative` (folder names separated by "/"; empty for `base` itself) beneath
// the folder descriptor `base`, as a path descriptor (O_PATH) in `folder`. The folder must lie
// inside `base` once links are followed, or the failure's reason is kNameLeavesFolder (and
// nothing is opened). Links that stay inside keep working.
Status OpenFolderBeneath(int base, std::string_view relative, int& folder);

}  // namespace menuconv::platform
