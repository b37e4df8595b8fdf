#include "xml/document_writer.h"

#include <utility>

#include "base/utf8.h"
#include "platform/codepage.h"
#include "xml/encodings.h"

namespace menuconv {

namespace {

constexpr std::string_view kDeclarationStart = "<?xml version=\"1.0\" encoding=\"";
constexpr std::string_view kDeclarationEnd = "\" ?>";
// Body text handed to the sink at once: few system calls, little held in memory.
constexpr std::size_t kFlushBytes = std::size_t{256} << 10;

ByteBuffer Copied(std::string_view text) {
  ByteBuffer copy;
  copy.Append(text);
  return copy;
}

}  // namespace

DocumentWriter::DocumentWriter(platform::CodePageConverters& converters, std::string_view encodingName,
                               const Encoding& text, ByteSink& sink)
    : converters_(&converters), codePage_(text.codePage), text_(text), sink_(&sink) {
  if (encodingName.empty()) encodingName = "utf-8";
  if (const EncodingRow* row = FindEncodingByName(encodingName)) codePage_ = row->codePage;
  const EncodingRow* declared = FindEncodingByCodePage(codePage_);
  declaration_ = kDeclarationStart;
  declaration_ += declared ? declared->name : std::string_view();
  declaration_ += kDeclarationEnd;
  if (text_.IsNarrowText() && codePage_ == code_page::kUtf8 && platform::NarrowIsUtf8()) {
    // Text made of whole pieces of checked text and ASCII needs no repair.
    flow_ = text_.checkedUtf8 ? Flow::kPiecesAsTheyAre : Flow::kRepairedPieces;
  } else if (!text_.IsNarrowText() && text_.heldCodePage == codePage_) {
    flow_ = Flow::kPiecesAsTheyAre;
  } else {
    flow_ = Flow::kWhole;
  }
}

Status DocumentWriter::Append(std::string_view text) {
  if (text.empty()) return Status::Success();
  return Append(Copied(text));
}

Status DocumentWriter::Append(ByteBuffer text) {
  if (flow_ == Flow::kRepairedPieces) text = RepairedPiece(std::move(text));
  pendingBytes_ += text.size();
  pending_.push_back(std::move(text));
  return flow_ != Flow::kWhole && pendingBytes_ >= kFlushBytes ? Flush() : Status::Success();
}

// The piece with the character its start completes, without the end that may begin a
// character the next piece completes, and with invalid sequences replaced.
ByteBuffer DocumentWriter::RepairedPiece(ByteBuffer text) {
  if (!carry_.empty()) {
    ByteBuffer joined = Copied(carry_);
    joined.Append(text.view());
    text = std::move(joined);
    carry_.clear();
  }
  const std::size_t tail = IncompleteUtf8Tail(text.view());
  carry_.assign(text.data() + text.size() - tail, tail);
  text.Resize(text.size() - tail);
  if (IsValidUtf8(text.view())) return text;
  ByteBuffer repaired;
  AppendRepairedUtf8(text.view(), repaired);
  return repaired;
}

Status DocumentWriter::Flush() {
  std::vector<std::string_view> bytes;
  bytes.reserve(pending_.size() + 1);
  if (!declaration_.empty()) bytes.push_back(declaration_);
  for (const ByteBuffer& piece : pending_) bytes.push_back(piece.view());
  Status status = sink_->Write(bytes);
  declaration_.clear();
  Spend(pending_);
  pendingBytes_ = 0;
  return status;
}

void DocumentWriter::Spend(std::vector<ByteBuffer>& pieces) {
  for (ByteBuffer& piece : pieces) {
    piece.Rewind();
    spent_.push_back(std::move(piece));
  }
  pieces.clear();
}

std::vector<ByteBuffer> DocumentWriter::TakeSpent() { return std::exchange(spent_, {}); }

// A body that is not written piece by piece goes out whole: as it is when the file is UTF-8
// and every piece well-formed, else converted through the code page.
Status DocumentWriter::ConvertWhole() {
  bool asItIs = codePage_ == code_page::kUtf8 && text_.IsNarrowText();
  for (std::size_t i = 0; asItIs && i < pending_.size(); ++i) asItIs = IsValidUtf8(pending_[i].view());
  if (asItIs) return Status::Success();
  ByteBuffer joined;
  joined.Reserve(pendingBytes_);
  for (const ByteBuffer& piece : pending_) joined.Append(piece.view());
  Spend(pending_);
  if (!text_.IsNarrowText()) {
    // Another code page's bytes: to narrow text first, which cannot fail for a code page
    // that round-trips exactly.
    ByteBuffer narrow;
    if (!converters_->ToNarrow(text_.heldCodePage, joined.view(), narrow)) {
      return UnconvertibleCodePage(text_.heldCodePage);
    }
    joined = std::move(narrow);
  }
  ByteBuffer converted;
  if (!converters_->FromNarrow(codePage_, joined.view(), converted)) {
    return UnconvertibleCodePage(codePage_);
  }
  pending_.push_back(std::move(converted));
  return Status::Success();
}

Status DocumentWriter::Finish() {
  if (flow_ == Flow::kWhole) {
    if (Status converted = ConvertWhole(); !converted) return converted;
  } else if (!carry_.empty()) {
    // The end of a UTF-8 body that no later piece completes.
    ByteBuffer repaired;
    AppendRepairedUtf8(carry_, repaired);
    pending_.push_back(std::move(repaired));
    carry_.clear();
  }
  pending_.push_back(Copied(std::string_view("\0", 1)));
  return Flush();
}

}  // namespace menuconv
