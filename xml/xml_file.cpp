#include "xml/xml_file.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "base/byte_scan.h"
#include "base/utf8.h"
#include "platform/codepage.h"
#include "platform/file_io.h"
#include "platform/mapped_file.h"
#include "xml/document_writer.h"
#include "xml/encodings.h"
#include "xml/held_text.h"
#include "xml/serializer.h"

namespace menuconv {

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// The place in the text held in memory of an offset into the file's bytes, which the text
// decodes: line breaks are the same bytes in every supported encoding, and the column counts
// the decoded bytes of the line before it.
TextPlace PlaceOfFileOffset(platform::CodePageConverters& converters, const XmlDocument& document,
                            std::string_view bytes, std::size_t at) {
  const TextPlace inFile = TextLocator(bytes).Locate(at);
  const std::size_t lineStart = at - (inFile.column - 1);
  ByteBuffer line;
  if (!DecodeToNarrow(converters, document, bytes.substr(lineStart, at - lineStart), line)) line.Resize(at - lineStart);
  return TextPlace{inFile.line, line.size() + 1};
}

// A declared encoding that no row names: the file is read as utf-8. Located in the text held
// in memory, where it is found at the same place: reading as utf-8 changes no ASCII byte.
void NoteUnknownEncoding(std::string_view declared, std::string_view text, std::vector<DocumentNote>& notes) {
  const std::size_t at = FindDeclaredEncoding(text).value_or(DeclaredEncoding{}).at;
  DocumentNote note{DocumentNote::Kind::kUnknownEncoding, {}, 0, std::string(declared), {}, {}, {}};
  note.place = TextLocator(text).Locate(at);
  notes.insert(notes.begin(), std::move(note));  // it tells how the rest was read
}

}  // namespace

Status Load(platform::CodePageConverters& converters, XmlDocument& document, const std::string& path,
            std::string_view encodingName, HeldText held, const std::function<void()>& otherWork) {
  document.Clear();

  auto input = std::make_unique<platform::HeldMappedFile>();
  if (Status read = input->file.Open(path, 0xFFFFFFF0u); !read) return read;
  std::string_view bytes = input->file.Bytes();
  if (bytes.empty()) return Status::Failure(StatusCode::kMalformedInput, "the file is empty");
  // A file that starts with the UTF-8 mark is UTF-8, whatever it declares, unless the
  // caller names the encoding; the mark itself is not part of the text.
  const bool marked = encodingName.empty() && bytes.substr(0, 3) == kUtf8Mark;
  if (marked) {
    document.SetEncoding(Encoding{code_page::kUtf8});
    bytes.remove_prefix(3);
  } else {
    DetectEncoding(document, bytes, encodingName);
  }
  // The text ends at the first zero byte. A UTF-8 text is checked in the same pass, and the
  // start tags the parse is sized for are counted there, on one thread: the caller's other
  // work has the other processor meanwhile, and a second thread here would only take turns
  // with it.
  const bool utf8 = document.GetEncoding().codePage == code_page::kUtf8;
  bool keepUtf8 = false;
  byte_scan::StartTagCounts startTags;
  if (utf8) {
    const Utf8UpToZero checked = CheckUtf8UpToZero(bytes, &startTags);
    bytes = bytes.substr(0, checked.size);
    keepUtf8 = checked.valid;
  } else {
    bytes = bytes.substr(0, SizeUpToZero(bytes, startTags));
  }
  // What loading reads past is noted for the run to warn about.
  std::vector<DocumentNote> notes;
  const std::optional<DeclaredEncoding> declared =
      (marked || !encodingName.empty()) ? std::nullopt : FindDeclaredEncoding(bytes);
  const bool unknownEncoding = declared && !FindEncodingByName(LoweredEncodingName(declared->name));
  const std::string unknownName = unknownEncoding ? std::string(declared->name) : std::string();

  HeldBytes text;
  const bool keepFileBytes =
      held == HeldText::kFileBytes && RoundTripsExactly(converters, document.GetEncoding().codePage);
  if (keepFileBytes || keepUtf8) {
    // Well-formed UTF-8 is already the text held in memory, and so are the bytes of a code
    // page the caller takes as they are: the file's bytes are read where they are. A zero
    // byte follows them, in the file or after it, and ends the parser's text.
    text = HeldBytes(std::string_view(bytes.data(), bytes.size() + 1), std::move(input));
  } else {
    ByteBuffer converted;
    platform::DecodeFaults faults;
    if (!DecodeToNarrow(converters, document, bytes, converted, &faults)) {
      return UnconvertibleCodePage(document.GetEncoding().codePage);
    }
    if (faults.count > 0) {
      DocumentNote note{DocumentNote::Kind::kInvalidBytes, {}, faults.count, {}, {}, {}, {}};
      note.place = PlaceOfFileOffset(converters, document, bytes, std::min(faults.first, bytes.size()));
      notes.push_back(std::move(note));
    }
    // What was decoded after another process cut the file short is made of zeros.
    if (input->file.WasCut()) return platform::CutShortFailure();
    input.reset();
    // The parser's text ends with the terminating zero byte.
    converted.Append('\0');
    converted.ShrinkToFit();
    text = HeldBytes(std::move(converted));
  }
  if (unknownEncoding) NoteUnknownEncoding(unknownName, text.view(), notes);
  const uint32_t codePage = document.GetEncoding().codePage;
  // The start tags of the file's bytes were counted by the pass that found where they end.
  Status parsed = keepFileBytes || keepUtf8 ? ParseDocument(document, std::move(text), startTags, otherWork)
                                            : ParseDocument(document, std::move(text), otherWork);
  document.InsertNotesFirst(std::move(notes));
  // Kept UTF-8 is narrow text where narrow text is UTF-8; elsewhere (Windows) it is held as
  // the file's bytes too, and names leave the document through NarrowText.
  const bool heldAsFileBytes = keepFileBytes || (keepUtf8 && !platform::NarrowIsUtf8());
  Encoding kept = heldAsFileBytes ? Encoding::FileBytes(codePage) : Encoding{codePage};
  kept.checkedUtf8 = keepUtf8 && !heldAsFileBytes;
  document.SetEncoding(kept);
  return parsed;
}

Status Save(platform::CodePageConverters& converters, XmlDocument& document, const std::string& path,
            std::string_view encodingName) {
  ByteBuffer body;
  SerializeDocument(document, body);
  platform::FileSink file(path);
  DocumentWriter writer(converters, encodingName, document.GetEncoding(), file);
  Status status = writer.Append(std::move(body));
  if (status) status = writer.Finish();
  if (status) status = file.Commit();
  // The document takes the code page of its file, unless the file could not be written.
  if (!file.Failed()) {
    Encoding saved = document.GetEncoding();
    saved.codePage = writer.CodePage();
    document.SetEncoding(saved);
  }
  return status;
}

Status Load(XmlDocument& document, const std::string& path, std::string_view encodingName, HeldText held) {
  platform::CodePageConverters converters;
  return Load(converters, document, path, encodingName, held);
}

Status Save(XmlDocument& document, const std::string& path, std::string_view encodingName) {
  platform::CodePageConverters converters;
  return Save(converters, document, path, encodingName);
}

}  // namespace menuconv
