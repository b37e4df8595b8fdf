// Everything one run keeps from start to end, handed explicitly to whatever needs it.
#pragma once

#include <functional>
#include <set>
#include <string>

#include "app/reporter.h"
#include "convert/picture_registry.h"

namespace menuconv {

struct RunContext {
  explicit RunContext(Reporter& shownTo) : reporter(shownTo) {}

  Reporter& reporter;
  PictureRegistry pictures;
  // What the warnings were shown for already, so that each shows once in a run.
  std::set<std::string, std::less<>> outputsWritten;  // menu documents, names normalised
  std::set<std::string, std::less<>> unhandledModules;
  std::set<std::string, std::less<>> undefinedPictures;
};

}  // namespace menuconv
