// MergeTextFile on arbitrary bytes; a table that was read writes back a file that reads as
// the same table.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fuzz_util.h"
#include "texts/text_table.h"

using namespace menuconv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto input = fuzz::ScratchFolder() / "table.txt";
  fuzz::WriteFile(input, std::string_view(reinterpret_cast<const char*>(data), size));
  TextTable table;
  MergeTextFile(table, input.string());
  const auto output = fuzz::ScratchFolder() / "table_txts.txt";
  if (!WriteTextTable(table, output.string())) std::abort();
  TextTable reread;
  const MergeResult result = MergeTextFile(reread, output.string());
  if (result.status != TextFileStatus::kMerged || reread.Size() != table.Size()) std::abort();
  auto a = table.begin();
  for (auto b = reread.begin(); b != reread.end(); ++a, ++b) {
    if (a->first != b->first || a->second != b->second) std::abort();
  }
  return 0;
}
