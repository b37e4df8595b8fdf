// Writes a document's file as its text comes: the declaration naming the encoding, the
// serialised body, and the zero byte that ends every saved file. The body is text as the
// document holds it in memory: narrow text, of which well-formed UTF-8 goes into a UTF-8 file
// as it is and anything else through the file's code page; or the file bytes a document was
// loaded as (see HeldText), which go into a file of that code page as they are.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_buffer.h"
#include "base/byte_sink.h"
#include "base/status.h"
#include "platform/codepage.h"
#include "xml/xml_document.h"

namespace menuconv {

class DocumentWriter {
 public:
  // The file's code page is the named encoding's (empty: utf-8), or the text's code page when
  // the name is in no row of the encoding table; the declaration names the row of that code
  // page. The body comes in the text's form. The converters and the sink, where the file's
  // bytes go, must outlive the writer.
  DocumentWriter(platform::CodePageConverters& converters, std::string_view encodingName, const Encoding& text,
                 ByteSink& sink);

  uint32_t CodePage() const { return codePage_; }

  // Adds body text. When the narrow text can go out piece by piece, what has come so far is
  // handed to the sink in large steps; otherwise the body is kept until Finish.
  Status Append(std::string_view text);
  Status Append(ByteBuffer text);
  // Hands everything left, and the closing zero byte, to the sink. A body that cannot be
  // converted to the code page fails before the sink sees any byte.
  Status Finish();

  // The buffers of the pieces handed to the sink since the last call, emptied, for the caller
  // to fill again: pieces built on another thread then go back there instead of being freed
  // here, which waits for that thread's allocator.
  std::vector<ByteBuffer> TakeSpent();

 private:
  void Spend(std::vector<ByteBuffer>& pieces);
  Status Flush();
  Status ConvertWhole();
  ByteBuffer RepairedPiece(ByteBuffer text);

  // How the body goes out: kept whole until Finish, to be converted there; or piece by piece,
  // narrow UTF-8 text into a UTF-8 file (where repairing each piece gives what repairing the
  // whole would), or a file's bytes into a file of that code page, unchanged.
  enum class Flow : uint8_t { kWhole, kRepairedPieces, kPiecesAsTheyAre };

  platform::CodePageConverters* converters_;
  uint32_t codePage_;
  Encoding text_;
  ByteSink* sink_;
  std::string declaration_;  // emptied once it went to the sink
  Flow flow_;
  std::vector<ByteBuffer> pending_;
  std::size_t pendingBytes_ = 0;
  std::vector<ByteBuffer> spent_;
  // The end of the last piece that may begin a character the next piece completes.
  std::string carry_;
};

}  // namespace menuconv
