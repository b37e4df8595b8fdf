#include "app/options.h"

#include <getopt.h>

#include <cstring>

namespace menuconv {

namespace {

// Values of the long options that have no short spelling.
enum LongOnly : int { kTextsOut = 256, kDepfile, kKeepUnchanged, kListOutputs, kStrict, kVersion };

const option kLongOptions[] = {
    {"output-dir", required_argument, nullptr, 'o'},
    {"texts-out", required_argument, nullptr, kTextsOut},
    {"depfile", required_argument, nullptr, kDepfile},
    {"keep-unchanged", no_argument, nullptr, kKeepUnchanged},
    {"list-outputs", no_argument, nullptr, kListOutputs},
    {"strict", no_argument, nullptr, kStrict},
    {"verbose", no_argument, nullptr, 'v'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0},
};

// "+": options end at the first word that is not one; ":": a missing value is told apart.
constexpr const char* kShortOptions = "+:o:vh";

const char* LongNameOf(int value) {
  for (const option* o = kLongOptions; o->name; ++o) {
    if (o->val == value) return o->name;
  }
  return "";
}

// The long option names that begin with what was typed (before any "=").
int LongNamesStartingWith(const std::string& typed) {
  int count = 0;
  for (const option* o = kLongOptions; o->name; ++o) {
    if (std::strncmp(o->name, typed.c_str(), typed.size()) == 0) ++count;
  }
  return count;
}

// What getopt_long refused, in one line. `word` is the argument it stopped at.
std::string Refused(int result, int option, const std::string& word) {
  const bool longForm = word.rfind("--", 0) == 0;
  const std::string typed = longForm ? word.substr(0, word.find('=')) : word;
  if (result == ':') {
    if (longForm) return "option '--" + std::string(LongNameOf(option)) + "' requires an argument";
    return std::string("option requires an argument -- '") + static_cast<char>(option) + "'";
  }
  if (longForm && option != 0) return "option '--" + std::string(LongNameOf(option)) + "' doesn't allow an argument";
  if (longForm && LongNamesStartingWith(typed.substr(2)) > 1) return "option '" + typed + "' is ambiguous";
  if (longForm || option == 0) return "unrecognized option '" + typed + "'";
  return std::string("invalid option -- '") + static_cast<char>(option) + "'";
}

}  // namespace

Options ParseOptions(const std::vector<std::string>& arguments) {
  Options options;
  std::vector<std::string> words = {"menuconv"};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(words.size());

  opterr = 0;  // the messages are ours, one line each
  optind = 0;  // a fresh scan, whatever an earlier one left behind
  for (;;) {
    const int wordBefore = optind == 0 ? 1 : optind;
    const int result = getopt_long(argc, argv.data(), kShortOptions, kLongOptions, nullptr);
    if (result == -1) break;
    std::string* value = nullptr;
    switch (result) {
      case 'o':
        value = &options.outputDir;
        break;
      case kTextsOut:
        value = &options.textsOut;
        break;
      case kDepfile:
        value = &options.depfile;
        break;
      case kKeepUnchanged:
        options.keepUnchanged = true;
        break;
      case kListOutputs:
        options.listOutputs = true;
        break;
      case kStrict:
        options.strict = true;
        break;
      case 'v':
        options.verbose = true;
        break;
      case 'h':
        options.help = true;
        return options;
      case kVersion:
        options.version = true;
        return options;
      default: {
        // getopt_long has moved past the word it refused, unless it stopped inside a bundle.
        const int at = optind > wordBefore ? optind - 1 : wordBefore;
        options.usageError = Refused(result, optopt, at < argc ? words[static_cast<std::size_t>(at)] : "");
        return options;
      }
    }
    if (value != nullptr) {
      if (optarg == nullptr || *optarg == '\0') {
        const std::string name = result == 'o' ? "-o" : "--" + std::string(LongNameOf(result));
        options.usageError = "option '" + name + "' requires a non-empty argument";
        return options;
      }
      *value = optarg;
    }
  }
  for (int i = optind; i < argc; ++i) {
    if (i > optind) options.path += ' ';
    options.path += words[static_cast<std::size_t>(i)];
  }
  if (optind >= argc) options.usageError = "no input document";
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
         "  -o, --output-dir=DIR      write the menu documents into DIR (it must exist)\n"
         "                            instead of the current folder\n"
         "      --texts-out=FILE      write the merged text table to FILE; nothing is\n"
         "                            written beside the input\n"
         "      --depfile=FILE        after a successful run, write a make-style dependency\n"
         "                            file: the outputs, the input and the tables read\n"
         "      --keep-unchanged      leave an output whose new bytes equal the existing\n"
         "                            file's untouched, its time stamp included\n"
         "      --list-outputs        write nothing; print the path of every file the run\n"
         "                            would write, one per line\n"
         "      --strict              a warning makes the exit status 1\n"
         "  -v, --verbose             print a summary of the run on stderr at the end\n"
         "  -h, --help                print this help\n"
         "      --version             print the version\n"
         "  --                        end of the options: what follows is the path\n"
         "\n"
         "Example: menuconv -o build/menus --texts-out build/menus_txts.txt data/menus.xml\n"
         "\n"
         "Exit status: 0 on success, 1 after a failure message (or a warning with --strict),\n"
         "2 when the command line cannot be used.\n";
}

}  // namespace menuconv
