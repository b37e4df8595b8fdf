// Where the run's failure messages and warnings go: the platform's own way of showing them,
// or, in tests, a recorder.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace menuconv {

class Reporter {
 public:
  virtual ~Reporter() = default;
  // Shows `text` under `caption`; `errors` (lines "DOC:LINE:COL: error: REASON" that point
  // at the input) and `details` (the system's reason) go where the platform has room for them.
  virtual void Failure(const std::string& caption, const std::string& text, const std::vector<std::string>& errors,
                       const std::vector<std::string>& details) = 0;
  // The outputs are unaffected; the user may want to know. `where` is "DOC:LINE:COL" for a
  // place in the document, a file's path for a whole file, or empty.
  virtual void Warning(const std::string& where, const std::string& text) = 0;
};

// "DOC:LINE:COL", as compilers point at a place in a file.
std::string PlaceInFile(const std::string& path, std::size_t line, std::size_t column);

// A name or path from the data as a warning shows it: at most 200 bytes (never part of a
// character), then "...".
std::string NameInWarning(std::string_view name);

// Shows messages and warnings the platform's way.
class PlatformReporter final : public Reporter {
 public:
  void Failure(const std::string& caption, const std::string& text, const std::vector<std::string>& errors,
               const std::vector<std::string>& details) override;
  void Warning(const std::string& where, const std::string& text) override;
};

}  // namespace menuconv
