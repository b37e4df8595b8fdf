// The POSIX command line: options at the start, then the words of the input path.
#pragma once

#include <string>
#include <vector>

namespace menuconv {

struct Options {
  std::string path;       // the words after the options, joined by single blanks
  std::string outputDir;  // where menu documents go; empty: the current folder
  bool listOutputs = false;
  bool strict = false;
  bool verbose = false;
  bool help = false;
  bool version = false;
  // Set when the command line cannot be used: what is wrong with it.
  std::string usageError;
};

// Options are recognised only at the start of the arguments and only as spelled in the
// usage; "--" ends them, and everything after them is the path, however it begins.
Options ParseOptions(const std::vector<std::string>& arguments);

// The usage: one line per option and an example.
const char* UsageText();

}  // namespace menuconv
