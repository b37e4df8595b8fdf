// Shared by the conversion tests: a run of their own with a recording reporter, attribute
// lists in order, a scratch folder as the current folder, and expected menu files.
#pragma once

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#endif

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "app/menu_output.h"
#include "app/run.h"
#include "convert/menu_builder.h"
#include "convert/picture_registry.h"
#include "convert/widgets.h"
#include "tests/test_support.h"
#include "xml/document_writer.h"
#include "xml/xml_document.h"
#include "xml/xml_element.h"
#include "xml/xml_parser.h"

namespace menuconv::convert_tests {

namespace fs = std::filesystem;

using Attributes = std::vector<std::pair<std::string, std::string>>;
using Translation = void (*)(const ModuleAttributes&, WidgetElement&);

inline Attributes InOrder(const WidgetElement& element) {
  Attributes list;
  element.ForEachAttribute([&list](std::string_view name, std::string_view value) {
    list.emplace_back(std::string(name), std::string(value));
  });
  return list;
}

inline std::string Show(const Attributes& list) {
  std::string s;
  for (const auto& [name, value] : list) s += " " + name + "=[" + value + "]";
  return s;
}

struct Message {
  std::string caption;
  std::string text;
};

// Records what the run shows instead of showing it: warnings and messages apart, or all in
// one list in the order shown.
class RecordingReporter final : public Reporter {
 public:
  void Failure(const std::string& caption, const std::string& text, const std::vector<std::string>&,
               const std::vector<std::string>&) override {
    if (events) events->push_back(caption + ": " + text);
    messages.push_back(Message{caption, text});
  }
  void Warning(const std::string&, const std::string& text) override {
    if (events) events->push_back("warning: " + text);
    warnings.push_back(text);
  }
  std::vector<std::string> warnings;
  std::vector<Message> messages;
  std::vector<std::string>* events = nullptr;
};

// Every test starts with a run of its own, whose picture list is empty.
class ConvertTestBase : public ::testing::Test {
 protected:
  void Register(const std::string& name, const std::string& path, int32_t column = 1, int32_t row = 1) {
    context.pictures.Insert(name, PictureEntry{path, column, row});
  }

  // The pictures the translation tables below refer to.
  void RegisterCommonPictures() {
    Register("grid", "pics/grid.png", 3, 2);
    Register("single", "pics/single.png");
    Register("strip", "pics/strip.png", 4, 1);
    Register("tall", "pics/tall.png", 1, 3);
    Register("back", "pics/back.png");
    Register("center", "pics/center.png");
    Register("bar", "pics/bar.png");
    Register("mask", "pics/mask.png");
    Register("waves", "pics/waves.png");
    Register("zero", "pics/zero.png", 0, 0);
    Register("negative", "pics/negative.png", -2, 7);
  }

  // Warnings and messages from here on go into one list too, in the order shown.
  void RecordEventsInto(std::vector<std::string>& events) { reporter.events = &events; }

  // The module's attributes, its pictures looked up in the run's list.
  ModuleAttributes Read(const ElementView& module) const { return ModuleAttributes(module, lookup); }

  RecordingReporter reporter;
  RunContext context{reporter};
  std::vector<std::string>& warnings = reporter.warnings;
  std::vector<Message>& messages = reporter.messages;
  std::vector<BuildNote> notes;
  const PictureLookup lookup{context.pictures, notes};
};

// A working element still holding a previous widget, as the menu builder passes it.
inline WidgetElement StaleElement() {
  WidgetElement e;
  e.name = "stale";
  e.text = "old text";
  e.SetAttribute(WidgetAttribute::keyText, "OLD");
  e.SetAttribute(WidgetAttribute::img, "old.png");
  e.SetAttribute(WidgetAttribute::velMax, "1");
  return e;
}

class ScratchFolder {
 public:
  ScratchFolder() {
    folder_ = testing_support::MakeTempFolder("menuconv-convert");
    previous_ = fs::current_path();
    fs::current_path(folder_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
    fs::remove_all(folder_, ignored);
  }
  const fs::path& path() const { return folder_; }

  // Every regular file below the folder, as relative paths with "/".
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder_)) {
      if (entry.is_regular_file()) names.push_back(fs::relative(entry.path(), folder_).generic_string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  fs::path folder_;
  fs::path previous_;
};

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A saved menu document: the declaration, then the lines, each behind CR LF, then one 0x00.
inline std::string MenuFile(const std::string& encoding, const std::vector<std::string>& lines) {
  std::string file = "<?xml version=\"1.0\" encoding=\"" + encoding + "\" ?>";
  for (const std::string& line : lines) file += "\r\n" + line;
  file += '\0';
  return file;
}

// A sink that keeps what is written.
struct StringSink final : ByteSink {
  std::string bytes;
  Status Write(const std::vector<std::string_view>& pieces) override {
    for (std::string_view piece : pieces) bytes += piece;
    return Status::Success();
  }
};

// The UTF-8 file of the document's first screen built in one piece and written in one step,
// the reference for what building in pieces on two threads and writing as they come gives.
inline std::string WholeScreenFile(const XmlDocument& doc, const PictureRegistry& pictures) {
  const ElementRef screen = doc.FirstChild(doc.FirstElement());
  std::vector<BuildNote> ignored;
  MenuText text(screen, doc);
  std::vector<ByteBuffer> parts = text.Add(BuildMenuPiece(doc.FirstChild(screen), SIZE_MAX, doc, pictures));
  for (ByteBuffer& part : text.Finish()) parts.push_back(std::move(part));
  ByteBuffer whole;
  for (const ByteBuffer& part : parts) whole.Append(part.view());
  StringSink file;
  platform::CodePageConverters converters;
  DocumentWriter writer(converters, "utf-8", Encoding{code_page::kUtf8}, file);
  EXPECT_TRUE(writer.Append(std::move(whole)).ok());
  EXPECT_TRUE(writer.Finish().ok());
  return file.bytes;
}

}  // namespace menuconv::convert_tests
