// The dependency file of a run, in the syntax compilers write for make (gcc -MD -MF), which
// make, Ninja and CMake read: the outputs as targets, the files they were made from as
// prerequisites.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/run_context.h"
#include "base/status.h"

namespace menuconv {

// A name as a make rule must spell it: blanks and "#" behind a backslash (backslashes before
// them doubled), "$" doubled.
std::string EscapedForMake(std::string_view name);

// "TARGET... : PREREQUISITE...", one name per line after the first. A file that is a target
// is not also its own prerequisite.
std::string DependencyText(const std::vector<std::string>& targets, const std::vector<std::string>& prerequisites);

// Writes the run's dependency file, complete or not at all; shows the failure
// "PATH: Cannot save dependency file". Writing nothing, only checks that it could be written.
// Returns the exit status: 0, or 1 after the failure message.
int WriteDependencyFile(const std::string& path, RunContext& context);

}  // namespace menuconv
