// Where the run's failure messages and warnings go: the platform's own way of showing them,
// or, in tests, a recorder.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace menuconv {

class Reporter {
 public:
  virtual ~Reporter() = default;
  // Shows `text` under `caption`; `details` (the system's reason, a position in a file) go
  // where the platform has room for them.
  virtual void Failure(const std::string& caption, const std::string& text,
                       const std::vector<std::string>& details) = 0;
  // The outputs are unaffected; the user may want to know.
  virtual void Warning(const std::string& text) = 0;
};

// A name or path from the data as a warning shows it: at most 200 bytes (never part of a
// character), then "...".
std::string NameInWarning(std::string_view name);

// Shows messages and warnings the platform's way.
class PlatformReporter final : public Reporter {
 public:
  void Failure(const std::string& caption, const std::string& text, const std::vector<std::string>& details) override;
  void Warning(const std::string& text) override;
};

}  // namespace menuconv
