// Shared by the fault tests: the program run in a fresh workspace, folder trees compared
// entry by entry, editor documents, menu files and text tables, and the exact messages.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tests/run_process.h"

namespace menuconv::fault_tests {

namespace fs = std::filesystem;

inline const std::string kLoadFailed = "Error: Cannot load file, check file exist!";
inline const std::string kConvertFailed = "Error: Cannot reparsing file!";
inline const std::string kSaveFailed = ": Cannot save menu file";

// ---------------------------------------------------------------------------------------
// Files and folders

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void MakeFolder(const fs::path& p) { fs::create_directories(p); }

inline void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

// Every entry below the folder (links are not followed), by relative path:
//   "file:" and the bytes, "folder", "link:" and the target, "fifo", or "other".
using Tree = std::map<std::string, std::string>;

inline std::string Describe(const fs::path& path) {
  const fs::file_status status = fs::symlink_status(path);
  switch (status.type()) {
    case fs::file_type::symlink:
      return "link:" + fs::read_symlink(path).string();
    case fs::file_type::directory:
      return "folder";
    case fs::file_type::regular:
      return "file:" + ReadFile(path);
    case fs::file_type::fifo:
      return "fifo";
    default:
      return "other";
  }
}

inline Tree TreeOf(const fs::path& folder) {
  Tree tree;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    tree[entry.path().lexically_relative(folder).generic_string()] = Describe(entry.path());
  }
  return tree;
}

inline std::string File(const std::string& bytes) { return "file:" + bytes; }
inline std::string Link(const std::string& target) { return "link:" + target; }

// Makes the entries of a tree (files, folders and links) below the folder.
inline void Lay(const fs::path& folder, const Tree& tree) {
  for (const auto& [name, entry] : tree) {
    const fs::path path = folder / name;
    fs::create_directories(path.parent_path());
    if (entry == "folder") {
      fs::create_directories(path);
    } else if (entry.rfind("file:", 0) == 0) {
      WriteFile(path, entry.substr(5));
    } else if (entry.rfind("link:", 0) == 0) {
      fs::create_symlink(entry.substr(5), path);
    } else {
      throw std::runtime_error("cannot lay " + entry);
    }
  }
}

// Printable excerpt of bytes around a position.
inline std::string Excerpt(const std::string& bytes, std::size_t at) {
  const std::size_t from = at > 30 ? at - 30 : 0;
  std::ostringstream s;
  for (std::size_t i = from; i < bytes.size() && i < from + 80; ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c >= 0x20 && c < 0x7F) {
      s << bytes[i];
    } else {
      static const char* hex = "0123456789ABCDEF";
      s << "\\x" << hex[c >> 4] << hex[c & 15];
    }
  }
  return s.str();
}

inline std::string Shorten(const std::string& path) {
  return path.size() <= 80 ? path : path.substr(0, 60) + "...(" + std::to_string(path.size()) + " bytes)";
}

// Compares two trees entry by entry; a difference is described briefly, not printed whole.
inline void ExpectTree(const Tree& got, const Tree& want) {
  for (const auto& [path, entry] : want) {
    const auto found = got.find(path);
    if (found == got.end()) {
      ADD_FAILURE() << "missing: " << Shorten(path);
    } else if (found->second != entry) {
      std::size_t i = 0;
      while (i < entry.size() && i < found->second.size() && entry[i] == found->second[i]) ++i;
      ADD_FAILURE() << Shorten(path) << ": " << found->second.size() << " bytes, want " << entry.size()
                    << "; first difference at " << i << "\n  got:  [" << Excerpt(found->second, i) << "]\n  want: ["
                    << Excerpt(entry, i) << "]";
    }
  }
  for (const auto& [path, entry] : got) {
    if (!want.count(path)) ADD_FAILURE() << "unexpected: " << Shorten(path) << " (" << Excerpt(entry, 0) << ")";
  }
}

// Temporary files of an interrupted write begin with this.
inline std::vector<std::string> Leftovers(const Tree& tree) {
  std::vector<std::string> found;
  for (const auto& [path, entry] : tree) {
    if (fs::path(path).filename().string().rfind(".menuconv-", 0) == 0) found.push_back(path);
  }
  return found;
}

// ---------------------------------------------------------------------------------------
// Running the program

using testing_support::Outcome;
using testing_support::RunMenuconv;

// A fresh folder with the working folder "run" inside it, removed with everything in it
// afterwards. Nothing may appear beside the working folder.
class Workspace {
 public:
  Workspace() {
    std::string pattern = (fs::temp_directory_path() / "menuconv-faults-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    base_ = pattern;
    fs::create_directory(path());
  }
  ~Workspace() {
    std::error_code ignored;
    fs::remove_all(base_, ignored);
  }
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;
  fs::path path() const { return base_ / "run"; }
  fs::path operator/(const std::string& name) const { return path() / name; }

  void ExpectNothingBeside() const {
    for (const auto& entry : fs::directory_iterator(base_)) {
      EXPECT_EQ(entry.path().filename().string(), "run") << "written beside the working folder";
    }
  }

 private:
  fs::path base_;
};

inline std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// ---------------------------------------------------------------------------------------
// Documents

// An editor document in UTF-8 whose wrapper's first child is the first screen.
inline std::string EditorDocument(const std::string& screens) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ROOT>" + screens + "</ROOT>\n";
}

// A screen with one sprite whose left-down x is `x`.
inline std::string Screen(const std::string& name, const std::string& x = "1") {
  return "<MENU_MODULE ctr=\"1\">" + name + "<SPRITE_MODULE ld.x=\"" + x + "\"/></MENU_MODULE>";
}

// The menu document of Screen(name, x): declaration, the root with its six attributes in
// the store's order, the sprite, and the closing zero byte.
inline std::string MenuFile(const std::string& x = "1") {
  return std::string("<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n") +
         "<menu ddur=\"\" dtr=\"\" on_del_anim=\"\" cdur=\"\" ctr=\"1\" on_create_anim=\"\">\r\n" +
         "    <sprite rect=\"" + x + ",,,,,,,\"/>\r\n</menu>" + std::string(1, '\0');
}

// A text table file: FF FE, then per record the key's units, TAB, the text's units, CR LF,
// every unit little-endian. Keys and texts here are ASCII.
inline std::string TableFile(const std::vector<std::pair<std::string, std::string>>& records) {
  auto units = [](const std::string& ascii) {
    std::string bytes;
    for (const char c : ascii) {
      bytes += c;
      bytes += '\0';
    }
    return bytes;
  };
  std::string file = "\xFF\xFE";
  for (const auto& [key, text] : records) file += units(key) + units("\t") + units(text) + units("\r\n");
  return file;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// What stderr must hold: exact lines. A saved menu file that fails shows the file name, the
// message and the reason; then the run shows its own message.
inline std::vector<std::string> SaveFailure(const std::string& fileName, const std::string& reason) {
  return {fileName + kSaveFailed, "  " + reason, kConvertFailed};
}

inline std::vector<std::string> TableFailure(const std::string& reason) {
  return {"menus_txts.txt: Cannot save text file", "  " + reason};
}

inline void ExpectStderr(const Outcome& outcome, const std::vector<std::string>& lines) {
  const std::vector<std::string> got = Lines(outcome.err);
  EXPECT_EQ(got.size(), lines.size()) << "stderr:\n" << Shorten(outcome.err);
  for (std::size_t i = 0; i < got.size() && i < lines.size(); ++i) {
    EXPECT_EQ(Shorten(got[i]), Shorten(lines[i])) << "stderr line " << i;
    if (got[i].size() > 80) {
      EXPECT_TRUE(got[i] == lines[i]) << "stderr line " << i;
    }
  }
}

// After a run the working folder holds what it held before with `changes` applied, no
// temporary file is left, and nothing was written beside the folder.
inline void ExpectFolderAfterRun(const Workspace& space, const Tree& before, const Tree& changes) {
  Tree want = before;
  for (const auto& [name, entry] : changes) want[name] = entry;
  const Tree after = TreeOf(space.path());
  EXPECT_EQ(Leftovers(after), std::vector<std::string>{});
  ExpectTree(after, want);
  space.ExpectNothingBeside();
}
}  // namespace menuconv::fault_tests
