#include "app/options.h"

namespace menuconv {

Options ParseOptions(const std::vector<std::string>& arguments) {
  Options options;
  if (arguments.empty()) {
    options.usageError = "no input document";
    return options;
  }
  std::size_t at = 0;
  for (; at < arguments.size(); ++at) {
    const std::string& word = arguments[at];
    if (word == "--") {
      ++at;
      break;
    }
    if (word.empty() || word[0] != '-') break;
    if (word == "--help" || word == "-h") {
      options.help = true;
      return options;
    }
    if (word == "--version") {
      options.version = true;
      return options;
    }
    if (word == "--list-outputs") {
      options.listOutputs = true;
    } else if (word == "--strict") {
      options.strict = true;
    } else if (word == "--verbose" || word == "-v") {
      options.verbose = true;
    } else if (word.rfind("--output-dir=", 0) == 0 && word.size() > 13) {
      options.outputDir = word.substr(13);
    } else if (word == "-o" && at + 1 < arguments.size()) {
      options.outputDir = arguments[++at];
    } else if (word == "-o") {
      options.usageError = "-o needs a folder";
      return options;
    } else {
      options.usageError = "unknown option " + word;
      return options;
    }
  }
  for (std::size_t i = at; i < arguments.size(); ++i) {
    if (i > at) options.path += ' ';
    options.path += arguments[i];
  }
  if (at == arguments.size()) options.usageError = "no input document";
  return options;
}

const char* UsageText() {
  return "usage: menuconv [OPTION...] [--] EDITOR-DOCUMENT.xml\n"
         "\n"
         "Writes one menu document per MENU_MODULE of the editor document (named by the\n"
         "screen's text followed by \".xml\"), then merges the text tables BASE.txt and\n"
         "BASE_txts.txt beside the input (BASE: the path before its last \".\") into\n"
         "BASE_txts.txt. The words after the options are joined by single blanks to form\n"
         "the path.\n"
         "\n"
         "  -o DIR, --output-dir=DIR  write the menu documents into DIR (it must exist)\n"
         "                            instead of the current folder\n"
         "  --list-outputs            write nothing; print the path of every file the run\n"
         "                            would write, one per line\n"
         "  --strict                  a warning makes the exit status 1\n"
         "  -v, --verbose             print a summary of the run on stderr at the end\n"
         "  -h, --help                print this help\n"
         "  --version                 print the version\n"
         "  --                        end of the options: what follows is the path\n"
         "\n"
         "Example: menuconv -o build/menus --strict data/menus.xml\n"
         "\n"
         "Exit status: 0 on success, 1 after a failure message (or a warning with --strict),\n"
         "2 when the command line cannot be used.\n";
}

}  // namespace menuconv
