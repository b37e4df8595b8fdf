#include "app/dependency_file.h"

#include <algorithm>

#include "app/menu_output.h"
#include "platform/file_io.h"

namespace menuconv {

std::string EscapedForMake(std::string_view name) {
  std::string escaped;
  std::size_t backslashes = 0;
  for (const char c : name) {
    if (c == ' ' || c == '\t' || c == '#') {
      escaped.append(backslashes + 1, '\\');
    } else if (c == '$') {
      escaped += '$';
    }
    backslashes = c == '\\' ? backslashes + 1 : 0;
    escaped += c;
  }
  return escaped;
}

std::string DependencyText(const std::vector<std::string>& targets, const std::vector<std::string>& prerequisites) {
  std::string text;
  for (const std::string& target : targets) {
    if (!text.empty()) text += " \\\n ";
    text += EscapedForMake(target);
  }
  text += ":";
  for (const std::string& prerequisite : prerequisites) {
    if (std::find(targets.begin(), targets.end(), prerequisite) != targets.end()) continue;
    text += " \\\n " + EscapedForMake(prerequisite);
  }
  return text + "\n";
}

int WriteDependencyFile(const std::string& path, RunContext& context) {
  Status status;
  if (context.settings.writeNothing) {
    status = CheckWritable(path);
  } else {
    const std::string text = DependencyText(context.written, context.sources);
    status = platform::WriteFileAtomically(path, {text});
  }
  if (!status) {
    context.reporter.Failure(path, "Cannot save dependency file", {}, {status.message()});
    return 1;
  }
  if (context.settings.writeNothing) context.written.push_back(path);
  return 0;
}

}  // namespace menuconv
