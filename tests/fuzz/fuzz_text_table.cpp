// TextTable::AddFile on arbitrary bytes, checked against a plain model of the rules (records
// read one by one with ReadTextLine into an ordered map, where the first text of a key
// stays); the table writes a file that reads back as the same table and serialises to the
// same bytes.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

#include "fuzz_util.h"
#include "texts/text_table.h"

using namespace menuconv;

namespace {

// What the file's records make by the rules alone, or false when it is no table from its start.
bool Model(std::string_view bytes, std::map<std::u16string, std::u16string>& model) {
  if (bytes.empty()) return true;
  if (bytes.size() < 2 || bytes[0] != '\xFF' || bytes[1] != '\xFE') return false;
  std::size_t position = 1;
  TextRecord record;
  while (ReadTextLine(bytes, position, record)) {
    if (!record.text().empty()) model.emplace(record.key().ToU16String(), record.text().ToU16String());
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto input = fuzz::ScratchFolder() / "table.txt";
  fuzz::WriteFile(input, bytes);
  TextTable table;
  const Status read = table.AddFile(input.string());
  std::map<std::u16string, std::u16string> model;
  const bool marked = Model(bytes, model);
  if (!marked && (read.ok() || !table.Empty())) std::abort();
  if (table.Size() != model.size()) std::abort();
  auto expected = model.begin();
  for (const TextRecord& record : table.Records()) {
    if (record.key().ToU16String() != expected->first || record.text().ToU16String() != expected->second) std::abort();
    ++expected;
  }

  const auto output = fuzz::ScratchFolder() / "table_txts.txt";
  if (!WriteTextTable(table, output.string()).ok()) std::abort();
  const std::string written = fuzz::ReadFile(output);
  if (written != SerializeTextTable(table).view()) std::abort();
  TextTable reread;
  if (!reread.AddFile(output.string()).ok() || reread.Size() != table.Size()) std::abort();
  for (std::size_t i = 0; i < table.Size(); ++i) {
    if (!UnitsEqual(reread.Records()[i].key(), table.Records()[i].key()) ||
        !UnitsEqual(reread.Records()[i].text(), table.Records()[i].text())) {
      std::abort();
    }
  }
  if (SerializeTextTable(reread).view() != written) std::abort();
  return 0;
}
