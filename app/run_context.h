// Everything one run keeps from start to end, handed explicitly to whatever needs it.
#pragma once

#include <cstddef>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/reporter.h"
#include "convert/picture_registry.h"
#include "platform/codepage.h"
#include "platform/file_io.h"
#include "platform/large_blocks.h"
#include "xml/text_locator.h"

namespace menuconv {

// How the run is asked to work.
struct RunSettings {
  std::string outputFolder;    // where menu documents go; empty: the current folder
  bool writeNothing = false;   // do everything but write: list what would be written
  std::string textsOut;        // where the merged text table goes; empty: BASE_txts.txt
  bool keepUnchanged = false;  // an output whose bytes would not change is left alone
};

struct RunContext {
  explicit RunContext(Reporter& shownTo, RunSettings how = {}) : reporter(shownTo), settings(std::move(how)) {}

  // Every warning of the run goes through here, so that they are counted. `where`: see
  // Reporter::Warning.
  void Warn(const std::string& where, const std::string& text) {
    ++warnings;
    reporter.Warning(where, text);
  }

  Reporter& reporter;
  const RunSettings settings;
  // The input document's path as given: messages that point into it begin with it.
  std::string documentPath;
  // Counts the lines of the input document's text for the warnings that point into it.
  TextLocator inputPlaces{std::string_view()};
  PictureRegistry pictures{platform::BackWithMemory};
  // Every conversion between the input's code page and narrow text goes through these.
  platform::CodePageConverters codePages;
  // The folder the menu documents are written beneath, held from the first of them on.
  platform::OutputFolder outputFolder{settings.outputFolder};
  // What was written or kept unchanged (or, writing nothing, would have been), in order.
  std::vector<std::string> written;
  std::size_t kept = 0;  // of `written`, the files left as they were
  // The files the outputs were made from: the input and the text tables that were there.
  std::vector<std::string> sources;
  std::size_t screensConverted = 0;
  std::size_t textRecordsMerged = 0;
  std::size_t textRecordsWritten = 0;
  std::size_t warnings = 0;
  // What the warnings were shown for already, so that each shows once in a run: the names
  // of undefined pictures are what the run reports of them (the registry keeps what the
  // picture list defined).
  std::set<std::string, std::less<>> outputsWritten;  // menu documents, names normalised
  std::set<std::string, std::less<>> unhandledModules;
  std::set<std::string, std::less<>> undefinedPictures;
};

}  // namespace menuconv
