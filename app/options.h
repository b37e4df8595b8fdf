// The POSIX command line: GNU option syntax (through getopt_long), then the words of the
// input path.
#pragma once

#include <string>
#include <vector>

namespace menuconv {

struct Options {
  std::string path;       // the words after the options, joined by single blanks
  std::string outputDir;  // where menu documents go; empty: the current folder
  std::string textsOut;   // where the merged text table goes; empty: BASE_txts.txt beside the input
  std::string depfile;    // where the dependency file goes; empty: none is written
  bool keepUnchanged = false;
  bool listOutputs = false;
  bool strict = false;
  bool verbose = false;
  bool help = false;
  bool version = false;
  // Set when the command line cannot be used: what is wrong with it, in one line.
  std::string usageError;
};

// Options come first, in the spellings getopt_long accepts (`--opt VALUE`, `--opt=VALUE`,
// `-oDIR`, bundled short options, unambiguous abbreviations of long names); they end at
// "--" or at the first word that is not an option ("-" alone is a word, not an option).
// Everything after them is the path. An option value may not be empty.
Options ParseOptions(const std::vector<std::string>& arguments);

// The usage: one line per option and an example.
const char* UsageText();

}  // namespace menuconv
