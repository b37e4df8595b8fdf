#include "app/menu_output.h"

#include <filesystem>
#include <utility>

#include "app/document_warnings.h"
#include "xml/encodings.h"
#include "xml/held_text.h"

namespace menuconv {

Status CheckWritable(const std::string& path) {
  platform::AtomicFile file;
  Status status = file.Open(path);
  file.Abandon();
  return status;
}

Status CheckWritable(platform::OutputFolder& folder, const std::string& name) {
  platform::AtomicFile file;
  Status status = file.Open(folder, name);
  file.Abandon();
  return status;
}

bool EscapesCurrentFolder(std::string_view name) {
  const std::string_view separators = platform::PathSeparators();
  if (platform::IsAbsolutePath(name)) return true;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of(separators, start);
    if (end == std::string_view::npos) end = name.size();
    if (name.substr(start, end - start) == "..") return true;
    start = end + 1;
  }
  return false;
}

namespace {

// A menu document is written in the input's encoding, from the code page a new document has
// (which counts only for a name in no row); its text is in the form the input holds.
Encoding MenuEncoding(const XmlDocument& input) {
  Encoding encoding = input.GetEncoding();
  encoding.codePage = Encoding().codePage;
  return encoding;
}

// One spelling for each file a path may name: "." and ".." segments and doubled separators
// resolved. A path without them, as most are, is its own, without the cost of taking it
// apart (some 2 µs a screen).
std::string SameFileSpelling(const std::string& path) {
  const bool plain = path.rfind('.', 0) != 0 && path.find("/.") == std::string::npos &&
                     path.find("//") == std::string::npos && path.find('\\') == std::string::npos;
  return plain ? path : std::filesystem::path(path).lexically_normal().generic_string();
}

}  // namespace

MenuOutput::MenuOutput(ElementRef menuModule, const XmlDocument& input, const RunSettings& settings,
                       platform::OutputFolder& folder, platform::CodePageConverters& converters)
    : text_(menuModule, input),
      fileName_(NarrowText(converters, input, text_.FileName())),
      folder_(folder),
      path_(settings.outputFolder.empty() ? fileName_ : settings.outputFolder + "/" + fileName_),
      writeNothing_(settings.writeNothing),
      keepUnchanged_(settings.keepUnchanged),
      file_(folder_, fileName_),
      writer_(converters, EncodingName(input), MenuEncoding(input), *this) {
  // The name is checked as the screen gives it, and where its folder leads once links are
  // followed, against the folder it is written into; the writing checks that folder again
  // by its descriptor and writes in the folder it checked.
  if (EscapesCurrentFolder(fileName_) || !platform::StaysInside(settings.outputFolder, fileName_)) {
    status_ = Status::Failure(StatusCode::kNameLeavesFolder, platform::kNameLeavesFolder);
  }
}

void MenuOutput::WriteParts(std::vector<ByteBuffer> parts) {
  for (ByteBuffer& part : parts) {
    if (!status_) break;
    status_ = writer_.Append(std::move(part));
  }
}

void MenuOutput::Add(MenuPiece piece) {
  if (status_) WriteParts(text_.Add(std::move(piece)));
}

Status MenuOutput::Write(const std::vector<std::string_view>& bytes) {
  if (writeNothing_) return Status::Success();
  // Compared with what is there before anything can replace it.
  if (keepUnchanged_ && !unchanged_) unchanged_.emplace(path_);
  if (unchanged_) {
    for (std::string_view piece : bytes) unchanged_->Add(piece);
  }
  return file_.Write(bytes);
}

Status MenuOutput::Finish() {
  if (status_) WriteParts(text_.Finish());
  if (status_) status_ = writer_.Finish();
  if (status_ && writeNothing_) status_ = CheckWritable(folder_, fileName_);
  kept_ = status_ && !writeNothing_ && unchanged_ && unchanged_->Unchanged();
  if (status_ && !writeNothing_ && !kept_) status_ = file_.Commit();
  if (!status_ || writeNothing_ || kept_) file_.Abandon();
  return status_;
}

bool ReportMenuSaved(const std::string& path, const Status& saved, const XmlDocument& input, ElementRef screen,
                     RunContext& context) {
  if (!saved) {
    context.reporter.Failure(path, "Cannot save menu file", {}, {saved.message()});
    return false;
  }
  ++context.screensConverted;
  // "./a.xml" and "a.xml", or "sub//a.xml" and "sub/a.xml", name one file.
  const std::string sameFile = SameFileSpelling(path);
  if (context.outputsWritten.emplace(sameFile).second) {
    context.written.push_back(path);
  } else {
    context.Warn(PlaceOfElement(input, screen, context),
                 "this screen writes " + NameInWarning(path) + " again and replaces an earlier screen's file");
  }
  return true;
}

}  // namespace menuconv
