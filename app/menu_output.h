// Writes one screen's menu document into the output folder as its pieces come, and reports
// what building and saving it gave: warnings for its notes, the failure message, or a
// warning for a file an earlier screen wrote too.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/run_context.h"
#include "app/unchanged_check.h"
#include "base/byte_sink.h"
#include "base/status.h"
#include "convert/menu_builder.h"
#include "platform/file_io.h"
#include "xml/document_writer.h"
#include "xml/xml_document.h"

namespace menuconv {

// Whether the file could be written: it is opened as a write would open it and dropped again.
// The first takes the path as it is; the second opens `name` beneath `folder`, as a menu
// document is opened.
Status CheckWritable(const std::string& path);
Status CheckWritable(platform::OutputFolder& folder, const std::string& name);

// True for a name that would leave the current folder: absolute, or with a ".." component.
bool EscapesCurrentFolder(std::string_view fileName);

class MenuOutput : private ByteSink {
 public:
  // Writing nothing, the document is made all the same, and thrown away. The folder and the
  // converters must outlive the output.
  MenuOutput(ElementRef menuModule, const XmlDocument& input, const RunSettings& settings,
             platform::OutputFolder& folder, platform::CodePageConverters& converters);

  // Writes what the piece settles; after a failure nothing more is written.
  void Add(MenuPiece piece);
  // Writes the rest and puts the file in place. An existing file is replaced only by a
  // complete one; a failure leaves the target as it was. Writing nothing, the target is
  // opened and dropped again, so that what would fail the run fails the listing too.
  Status Finish();
  // The existing file held the same bytes and was left as it was (--keep-unchanged).
  bool Kept() const { return kept_; }

  // The buffers of the pieces written since the last call, emptied, to build pieces in again.
  std::vector<ByteBuffer> TakeSpentBuffers() { return writer_.TakeSpent(); }

  // The screen's text followed by ".xml", as narrow text, in the output folder.
  const std::string& Path() const { return path_; }

 private:
  void WriteParts(std::vector<ByteBuffer> parts);
  // The writer's sink: the file, and the comparison with what is there.
  Status Write(const std::vector<std::string_view>& bytes) override;

  MenuText text_;
  std::string fileName_;
  platform::OutputFolder& folder_;  // the folder the name is relative to
  std::string path_;
  bool writeNothing_;
  bool keepUnchanged_;
  bool kept_ = false;
  std::optional<UnchangedCheck> unchanged_;
  platform::FileSink file_;
  DocumentWriter writer_;
  Status status_;
};

// Shows the outcome of a screen's save: the "Cannot save menu file" message, or a warning, at
// the screen's start tag, for a file written by an earlier screen too. True when the menu was
// saved.
bool ReportMenuSaved(const std::string& path, const Status& saved, const XmlDocument& input, ElementRef screen,
                     RunContext& context);

}  // namespace menuconv
