#include "app/document_warnings.h"

#include "xml/encodings.h"
#include "xml/held_text.h"

namespace menuconv {

namespace {

// A name or value of the document as a warning quotes it.
std::string Quoted(const XmlDocument& document, std::string_view text, RunContext& context) {
  return "\"" + NameInWarning(NarrowText(context.codePages, document, text)) + "\"";
}

std::string NoteText(const XmlDocument& document, const DocumentNote& note, RunContext& context) {
  switch (note.kind) {
    case DocumentNote::Kind::kUnknownEncoding:
      return "unknown encoding " + Quoted(document, note.name, context) + ", read as utf-8";
    case DocumentNote::Kind::kInvalidBytes: {
      const std::string encoding = EncodingName(document);
      return std::to_string(note.count) + (note.count == 1 ? " byte sequence" : " byte sequences") + " invalid in " +
             (encoding.empty() ? "the document's encoding" : encoding) + (note.count == 1 ? " was" : " were") +
             " replaced, the first here";
    }
    case DocumentNote::Kind::kEndTagMismatch:
      return "end tag " + Quoted(document, note.name, context) + " closes the element " +
             Quoted(document, note.element, context);
    case DocumentNote::Kind::kRepeatedAttribute:
      return "attribute " + Quoted(document, note.name, context) + " given again: its first value " +
             Quoted(document, note.kept, context) + " counts, not " + Quoted(document, note.dropped, context);
    case DocumentNote::Kind::kValueWithLineBreak:
      return "the value of attribute " + Quoted(document, note.name, context) +
             " holds a line break: is its closing quote missing?";
    case DocumentNote::Kind::kValueWithTag:
      return "the value of attribute " + Quoted(document, note.name, context) +
             " holds \"<\": is its closing quote missing?";
  }
  return std::string();
}

}  // namespace

std::string PlaceOfElement(const XmlDocument& document, ElementRef element, RunContext& context) {
  const TextPlace place = document.StartOfTag(element, context.inputPlaces);
  if (place.line == 0) return context.documentPath;
  return PlaceInFile(context.documentPath, place.line, place.column);
}

void ReportDocumentNotes(const XmlDocument& document, RunContext& context) {
  for (const DocumentNote& note : document.Notes()) {
    context.Warn(PlaceInFile(context.documentPath, note.place.line, note.place.column),
                 NoteText(document, note, context));
  }
}

void ReportNotes(const MenuPiece& piece, const XmlDocument& input, ElementRef screen, RunContext& context) {
  auto shown = [&](std::string_view name) { return NameInWarning(NarrowText(context.codePages, input, name)); };
  for (const BuildNote& note : piece.notes) {
    if (note.kind == BuildNote::Kind::kUnhandledModule) {
      if (context.unhandledModules.emplace(note.name).second) {
        context.Warn(PlaceOfElement(input, note.element, context), "screen \"" + shown(input.Element(screen).Text()) +
                                                                       "\": " + shown(note.name) + " is not converted");
      }
    } else if (context.undefinedPictures.emplace(note.name).second) {
      context.Warn(PlaceOfElement(input, note.element, context),
                   "picture \"" + shown(note.name) + "\" is not defined in the picture list");
    }
  }
}

}  // namespace menuconv
