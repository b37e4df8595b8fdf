// Shared by the load, save and serialiser tests: scratch folders, readable bytes, example
// documents, and a thread with a small stack.
#pragma once

#include <gtest/gtest.h>

#ifndef _WIN32
#include <pthread.h>
#endif

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/status.h"
#include "tests/test_support.h"
#include "xml/xml_document.h"
#include "xml/xml_element.h"
#include "xml/xml_file.h"

namespace menuconv::xml_file_tests {

// Load's result taken apart: whether the file was read, and how far its text was read.
struct LoadResult {
  Status parse;
  Status read;
  bool Load(XmlDocument& document, const std::filesystem::path& path, std::string_view encodingName) {
    const Status loaded = menuconv::Load(document, path.string(), encodingName);
    const bool endedEarly = loaded.code() == StatusCode::kTextEndedEarly;
    parse = endedEarly ? loaded : Status::Success();
    read = endedEarly ? Status::Success() : loaded;
    return read.ok();
  }
  const std::string& message() const { return read.message(); }
};

namespace fs = std::filesystem;
using namespace std::string_literals;

[[maybe_unused]] inline constexpr auto Hex = testing_support::HexOf;

// Printable form of file bytes for failure messages: CR, LF, zero and bytes above 0x7E as
// escapes.
inline std::string Shown(std::string_view bytes) {
  std::string out;
  char escape[8];
  for (unsigned char c : bytes) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c > 0x7E) {
      std::snprintf(escape, sizeof escape, "\\x%02X", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

#define EXPECT_BYTES(actual, expected) EXPECT_EQ(Shown(actual), Shown(expected))

// The declaration written ahead of every saved body.
inline std::string Declaration(std::string_view encodingName) {
  return "<?xml version=\"1.0\" encoding=\""s + std::string(encodingName) + "\" ?>";
}

using testing_support::WriteBytes;

// A fresh folder for one test, removed with everything in it afterwards.
class Folder : public testing_support::TempFolder {
 public:
  Folder() : TempFolder("menuconv-xmlfile") {}

  std::string operator/(const std::string& name) const { return PathOf(name); }

  // Every entry of the folder, hidden ones included.
  std::set<std::string> Entries() const {
    std::set<std::string> names;
    for (const fs::directory_entry& e : fs::directory_iterator(path())) names.insert(e.path().filename().string());
    return names;
  }
};

// The bytes of a regular file, or a note that stands for none.
inline std::string FileBytes(const std::string& path) {
  return testing_support::ReadBytes(path).value_or("(no regular file at " + path + ")");
}

// A failure reason names the system's error.
inline void ExpectSystemReason(const std::string& reason, int error, const std::string& label = {}) {
#ifdef _WIN32
  (void)error;
  EXPECT_FALSE(reason.empty()) << label;
#else
  EXPECT_EQ(reason, std::strerror(error)) << label;
#endif
}

inline XmlElement Element(std::string name, std::string text = {},
                          std::vector<std::pair<std::string, std::string>> attributes = {}) {
  XmlElement e;
  e.name = std::move(name);
  e.text = std::move(text);
  for (const auto& [key, value] : attributes) e.SetAttribute(key, value);
  return e;
}

// The menu of the documented example: root menu ctr=1 with a sprite img=back and a button
// with the text OK.
inline void BuildExample(XmlDocument& doc) {
  const ElementRef menu = doc.AppendChild(ElementRef::None(), Element("menu", "", {{"ctr", "1"}}));
  doc.AppendChild(menu, Element("sprite", "", {{"img", "back"}}));
  doc.AppendChild(menu, Element("button", "OK"));
}

// Runs `work` on a thread whose stack is far smaller than usual, so that code that recurses
// once per nesting level overflows it even for moderately deep documents.
inline void RunOnSmallStack(const std::function<void()>& work) {
#ifdef _WIN32
  work();
#else
  pthread_attr_t attributes;
  ASSERT_EQ(pthread_attr_init(&attributes), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attributes, 128 * 1024), 0);
  pthread_t thread;
  auto run = [](void* arg) -> void* {
    (*static_cast<const std::function<void()>*>(arg))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, run, const_cast<std::function<void()>*>(&work)), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
#endif
}

// A chain of `depth` elements named "a", each the only child of the one before.
inline void BuildChain(XmlDocument& doc, std::size_t depth) {
  ElementRef e = doc.AppendChild(ElementRef::None(), Element("a"));
  for (std::size_t i = 1; i < depth; ++i) e = doc.AppendChild(e, Element("a"));
}

// Checks `bytes` against the serialised chain: an opening line per level, the innermost
// "<a/>", then a closing line per level, each indented by 4 blanks per level. Gives the
// number of bytes that matched; the whole text matched when that is its size.
inline std::size_t MatchChain(std::string_view bytes, std::size_t depth) {
  std::size_t at = 0;
  auto expect = [&](std::string_view piece) {
    if (bytes.substr(at, piece.size()) != piece) return false;
    at += piece.size();
    return true;
  };
  const std::string blanks(depth * 4, ' ');
  auto line = [&](std::size_t level, std::string_view tag) {
    return expect("\r\n") && expect(std::string_view(blanks).substr(0, level * 4)) && expect(tag);
  };
  for (std::size_t level = 0; level + 1 < depth; ++level) {
    if (!line(level, "<a>")) return at;
  }
  if (!line(depth - 1, "<a/>")) return at;
  for (std::size_t level = depth - 1; level-- > 0;) {
    if (!line(level, "</a>")) return at;
  }
  return at;
}

}  // namespace menuconv::xml_file_tests
