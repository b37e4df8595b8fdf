#include "app/run.h"

#include <condition_variable>
#include <exception>
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

// Widgets per piece: enough that handing a piece to another thread costs little, few enough
// that a screen of many thousand widgets is shared out.
constexpr std::size_t kPieceChildren = 1024;
// How many pieces may be finished ahead of the one reported next: bounds the memory that
// finished pieces hold while a slow save is under way.
constexpr std::size_t kLookAhead = 16;

struct PieceJob {
  std::size_t screen;  // position in the list of screens
  ElementRef firstChild;
};

// Builds the pieces, in any order, on the thread that asks for them and one more; hands them
// over in order. Building only reads the document and the picture registry.
class PieceBuilder {
 public:
  PieceBuilder(const XmlDocument& document, const std::vector<PieceJob>& jobs, const PictureRegistry& registry)
      : document_(document), jobs_(jobs), registry_(registry), done_(jobs.size()) {
    if (jobs.size() > 1) thread_ = std::thread([this] { Work(); });
  }
  ~PieceBuilder() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  PieceBuilder(const PieceBuilder&) = delete;
  PieceBuilder& operator=(const PieceBuilder&) = delete;

  // The piece of job i, which must follow the one taken before; builds others meanwhile.
  MenuPiece Take(std::size_t i) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!done_[i]) {
      if (error_) std::rethrow_exception(error_);
      if (!BuildNext(lock)) changed_.wait(lock);
    }
    MenuPiece piece = std::move(*done_[i]);
    done_[i].reset();
    taken_ = i + 1;
    changed_.notify_all();
    return piece;
  }

 private:
  void Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    try {
      while (!stopping_) {
        if (!BuildNext(lock)) changed_.wait(lock);
      }
    } catch (...) {
      if (!lock.owns_lock()) lock.lock();
      error_ = std::current_exception();
      changed_.notify_all();
    }
  }

  // Builds the next job nobody took, if it lies within the look-ahead; the lock is released
  // while building.
  bool BuildNext(std::unique_lock<std::mutex>& lock) {
    if (next_ >= jobs_.size() || next_ >= taken_ + kLookAhead) return false;
    const std::size_t i = next_++;
    lock.unlock();
    MenuPiece piece = BuildMenuPiece(jobs_[i].firstChild, kPieceChildren, document_, registry_);
    lock.lock();
    done_[i] = std::move(piece);
    changed_.notify_all();
    return true;
  }

  const XmlDocument& document_;
  const std::vector<PieceJob>& jobs_;
  const PictureRegistry& registry_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::optional<MenuPiece>> done_;
  std::size_t next_ = 0;   // the first job nobody took
  std::size_t taken_ = 0;  // jobs before this one were handed over
  bool stopping_ = false;
  std::exception_ptr error_;
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
  PictureRegistry& registry = ProcessPictureRegistry();
  for (ElementRef q = first; !q.IsNone(); q = document.NextSibling(q)) {
    if (document.Element(q).HasName("PICTURES_MODULE")) {
      ConvertPictures(q, document, registry);
      break;
    }
  }

  // The screens' widgets are built in pieces, two at a time; the screens are then warned
  // about, saved and reported one after the other in document order, as if one screen
  // followed the other: a failed save ends the run before the next screen is written.
  std::vector<ElementRef> screens;
  std::vector<PieceJob> jobs;
  for (ElementRef q = first; !q.IsNone(); q = document.NextSibling(q)) {
    if (!document.Element(q).HasName("MENU_MODULE")) continue;
    const std::size_t screen = screens.size();
    screens.push_back(q);
    jobs.push_back(PieceJob{screen, document.FirstChild(q)});
    std::size_t inPiece = 0;
    for (ElementRef child = document.FirstChild(q); !child.IsNone(); child = document.NextSibling(child)) {
      if (inPiece == kPieceChildren) {
        jobs.push_back(PieceJob{screen, child});
        inPiece = 0;
      }
      ++inPiece;
    }
  }

  MenuRunState state;
  bool saved = true;
  {
    PieceBuilder builder(document, jobs, registry);
    std::size_t job = 0;
    for (std::size_t screen = 0; screen < screens.size() && saved; ++screen) {
      const ElementView view = document.Element(screens[screen]);
      // A screen of several pieces is written while its later pieces are built.
      const bool severalPieces = job + 1 < jobs.size() && jobs[job + 1].screen == screen;
      MenuSaver saver(screens[screen], document, severalPieces);
      for (; job < jobs.size() && jobs[job].screen == screen; ++job) {
        MenuPiece piece = builder.Take(job);
        ShowBuildNotes(piece, view, state);
        saver.Add(std::move(piece));
      }
      const SaveOutcome outcome = saver.Finish();
      saved = ReportMenuSaved(saver.Menu(), outcome, state);
    }
  }
  AddUndefinedPictures(state, registry);
  return saved;
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
  const TextTableOutcome texts = RunTextTableStep(path);
  // A table that cannot be written stays as it was, without a word.
  if (texts.ran && !texts.read.ok) platform::ShowWarning(texts.table + ": not rewritten: " + texts.read.reason);
  return 0;
}

}  // namespace menuconv
