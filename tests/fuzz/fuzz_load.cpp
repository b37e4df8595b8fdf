// Load on arbitrary file contents, with the encoding taken from the file or named by the
// caller (the first byte chooses), then Save of what was read.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_util.h"
#include "xml/encodings.h"
#include "xml/xml_file.h"

using namespace menuconv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const unsigned choice = static_cast<unsigned char>(bytes[0]) % (EncodingTable.size() + 2);
  bytes.remove_prefix(1);
  std::string encoding;
  if (choice < EncodingTable.size()) encoding = std::string(EncodingTable[choice].name);
  if (choice == EncodingTable.size()) encoding = "koi8-r";  // a name in no row
  const auto input = fuzz::ScratchFolder() / "load.xml";
  fuzz::WriteFile(input, bytes);
  XmlDocument document;
  // A text that ended early loads what was read before it: that is saved, too.
  if (const Status loaded = Load(document, input.string(), encoding);
      loaded || loaded.code() == StatusCode::kTextEndedEarly) {
    // Whether the encoding can hold the text or not, only a crash is a finding here.
    (void)Save(document, (fuzz::ScratchFolder() / "saved.xml").string(), EncodingName(document));
  }
  return 0;
}
