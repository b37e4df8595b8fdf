#include "app/run.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "app/text_table_step.h"
#include "convert/menu_builder.h"
#include "convert/picture_registry.h"
#include "platform/messages.h"
#include "xml/xml_file.h"

namespace menuconv {

namespace {

constexpr const char* kLoadFailed = "Cannot load file, check file exist!";
constexpr const char* kConvertFailed = "Cannot reparsing file!";

// Collects the warnings shown while it lives, to be shown later or never.
class WarningsHeld {
 public:
  explicit WarningsHeld(std::vector<std::string>& into)
      : shown_(platform::SetWarningSink([&into](const std::string& text) { into.push_back(text); })) {}
  ~WarningsHeld() { platform::SetWarningSink(std::move(shown_)); }
  WarningsHeld(const WarningsHeld&) = delete;
  WarningsHeld& operator=(const WarningsHeld&) = delete;

 private:
  platform::WarningSink shown_;
};

// Saves one menu at a time on a thread of its own, kept for the whole walk.
class MenuWriter {
 public:
  MenuWriter() : thread_([this] { Run(); }) {}
  ~MenuWriter() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  MenuWriter(const MenuWriter&) = delete;
  MenuWriter& operator=(const MenuWriter&) = delete;

  // Starts saving the menu, which must stay in place until Outcome() returned.
  void Start(const BuiltMenu& menu) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      menu_ = &menu;
      outcome_.reset();
    }
    changed_.notify_all();
  }

  SaveOutcome Outcome() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return outcome_.has_value(); });
    return *outcome_;
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return stopping_ || menu_ != nullptr; });
      if (menu_ == nullptr) return;
      const BuiltMenu* menu = std::exchange(menu_, nullptr);
      lock.unlock();
      SaveOutcome outcome = SaveMenu(*menu);
      lock.lock();
      outcome_ = std::move(outcome);
      changed_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  const BuiltMenu* menu_ = nullptr;
  std::optional<SaveOutcome> outcome_;
  bool stopping_ = false;
  std::thread thread_;  // last: it starts once the state above exists
};

}  // namespace

bool ConvertDocument(const XmlDocument& document, std::string* why) {
  constexpr const char* kNoScreen = "no MENU_MODULE on the chain of first elements";
  ElementRef first = document.FirstElement();
  if (first.IsNone()) {
    if (why) *why = "the document holds no element";
    return false;
  }
  // Down the chain of first children only: siblings on the way are never examined.
  while (!document.Element(first).HasName("MENU_MODULE")) {
    first = document.FirstChild(first);
    if (first.IsNone()) {
      if (why) *why = kNoScreen;
      return false;
    }
  }
  for (ElementRef q = first; !q.IsNone(); q = document.NextSibling(q)) {
    if (document.Element(q).HasName("PICTURES_MODULE")) {
      ConvertPictures(q, document);
      break;
    }
  }
  // A large screen's file is written on a second thread while the next screen is built;
  // small ones are written at once, since handing them over would cost more than it saves.
  // The outcome of a screen is reported before anything of the next one shows, and a failed
  // save ends the run before the next screen is written, as if one screen followed the other.
  constexpr std::size_t kHandOverSize = 32 * 1024;
  MenuRunState state;
  std::optional<MenuWriter> writer;
  std::optional<BuiltMenu> pending;
  auto reportPending = [&]() {
    if (!pending) return true;
    const bool saved = ReportMenuSaved(*pending, writer->Outcome(), state);
    pending.reset();
    return saved;
  };
  for (ElementRef q = first; !q.IsNone(); q = document.NextSibling(q)) {
    if (!document.Element(q).HasName("MENU_MODULE")) continue;
    std::vector<std::string> warnings;
    BuiltMenu built;
    {
      const WarningsHeld held(warnings);
      built = BuildMenu(q, document, state);
    }
    if (!reportPending()) return false;
    for (const std::string& text : warnings) platform::ShowWarning(text);
    if (built.body.size() < kHandOverSize) {
      if (!ReportMenuSaved(built, SaveMenu(built), state)) return false;
      continue;
    }
    if (!writer) writer.emplace();
    pending = std::move(built);
    writer->Start(*pending);
  }
  return reportPending();
}

int RunConversion(const std::string& path) {
  XmlDocument document;
  LoadStatus status;
  if (!Load(document, path, "", &status)) {
    platform::ShowMessage("Error", kLoadFailed, {path + ": " + status.reason});
    return 1;
  }
  // A text that ended inside a construct or an open element is not converted at all.
  if (!status.parse.ok) {
    platform::ShowMessage("Error", kConvertFailed,
                          {path + ":" + std::to_string(status.parse.line) + ":" +
                           std::to_string(status.parse.column) + ": the text ended inside " +
                           status.parse.what});
    return 1;
  }
  std::string why;
  if (!ConvertDocument(document, &why)) {
    std::vector<std::string> details;
    if (!why.empty()) details.push_back(path + ": " + why);
    platform::ShowMessage("Error", kConvertFailed, details);
    return 1;
  }
  RunTextTableStep(path);
  return 0;
}

}  // namespace menuconv
