#include "app/run.h"

#include <exception>
#include <functional>
#include <future>
#include <new>
#include <system_error>
#include <vector>

#include "app/document_warnings.h"
#include "app/menu_output.h"
#include "app/piece_builder.h"
#include "app/text_table_step.h"
#include "platform/mapped_file.h"
#include "platform/threads.h"
#include "xml/xml_file.h"

namespace menuconv {

namespace {

constexpr const char* kLoadFailed = "Cannot load file, check file exist!";
constexpr const char* kConvertFailed = "Cannot reparsing file!";

// The first MENU_MODULE down the chain of first children: siblings on the way are never
// examined.
Result<ElementRef> FindFirstScreen(const XmlDocument& document) {
  ElementRef first = document.FirstElement();
  if (first.IsNone()) return Status::Failure(StatusCode::kNotFound, "the document holds no element");
  while (!document.Element(first).HasName("MENU_MODULE")) {
    first = document.FirstChild(first);
    if (first.IsNone()) return Status::Failure(StatusCode::kNotFound, "no MENU_MODULE on the chain of first elements");
  }
  return first;
}

void RegisterPictures(const XmlDocument& document, ElementRef first, PictureRegistry& registry) {
  for (ElementRef q = first; !q.IsNone(); q = document.NextSibling(q)) {
    if (document.Element(q).HasName("PICTURES_MODULE")) {
      ConvertPictures(q, document, registry);
      return;
    }
  }
}

// The pieces of the screens, planned on another thread while the pictures are registered
// here: both only read the document, and nothing else keeps the other processor busy then.
std::vector<PieceJob> PlanBesidePictures(const XmlDocument& document, ElementRef first,
                                         std::vector<ElementRef>& screens, PictureRegistry& registry) {
  std::vector<PieceJob> jobs;
  std::exception_ptr planError;
  platform::Thread planner;
  try {
    planner = platform::Thread([&] {
      try {
        jobs = PlanPieces(document, first, screens);
      } catch (...) {
        planError = std::current_exception();
      }
    });
  } catch (const std::system_error&) {
    jobs = PlanPieces(document, first, screens);  // no thread to be had: planned here
  }
  RegisterPictures(document, first, registry);
  planner.Join();
  if (planError) std::rethrow_exception(planError);
  return jobs;
}

// What was thrown, as a failure: exhausted memory, or what the exception says.
Status ThrownFailure() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return Status::Failure(StatusCode::kThrown, "out of memory");
  } catch (const std::exception& e) {
    return Status::Failure(StatusCode::kThrown, e.what());
  } catch (...) {
    return Status::Failure(StatusCode::kThrown, "an unexpected failure");
  }
}

// A table that is not one is left alone, with a warning; one that cannot be read or written
// fails the run, since a build would otherwise ship stale texts. Writing the table elsewhere, a
// second table that is not one fails the run too: the table asked for cannot be made.
int ReportTextTables(const TextTableOutcome& outcome, RunContext& context) {
  if (!outcome.ran) return 0;
  context.textRecordsMerged = outcome.recordsMerged;
  context.textRecordsWritten = outcome.recordsWritten;
  context.sources.insert(context.sources.end(), outcome.found.begin(), outcome.found.end());
  if (!outcome.load) {
    context.reporter.Failure(outcome.unreadable, "Cannot load text file", {}, {outcome.load.message()});
    return 1;
  }
  if (!outcome.read && !context.settings.textsOut.empty()) {
    context.reporter.Failure(outcome.table, "Cannot save text file", {},
                             {outcome.second + ": " + outcome.read.message()});
    return 1;
  }
  if (!outcome.read) {
    context.Warn(outcome.table, "not rewritten: " + outcome.read.message());
    return 0;
  }
  Status write = outcome.write;
  if (context.settings.writeNothing) write = CheckWritable(outcome.table);
  if (!write) {
    context.reporter.Failure(outcome.table, "Cannot save text file", {}, {write.message()});
    return 1;
  }
  context.written.push_back(outcome.table);
  if (outcome.kept) ++context.kept;
  return 0;
}

// Loads the document, the first source of the run. Fails with kTextEndedEarly when the
// document holds what was read before its text ended; any other failure means it could not be
// loaded: not read, not converted, cut short meanwhile, or what was thrown.
// `otherWork` returns once the run's work beside the load is done (see Load).
Status LoadDocument(const std::string& path, XmlDocument& document, RunContext& context,
                    const std::function<void()>& otherWork) {
  try {
    context.sources.push_back(path);
    // Nothing but file names and messages leaves the document, so a code page that round-trips
    // exactly is held as the file's bytes: nothing to decode, nothing to encode when written.
    Status loaded = Load(context.codePages, document, path, "", HeldText::kFileBytes, otherWork);
    if (!loaded && loaded.code() != StatusCode::kTextEndedEarly) return loaded;
    if (document.TextCutShort()) return platform::CutShortFailure();
    return loaded;
  } catch (...) {
    return ThrownFailure();
  }
}

// Loads and converts the document; 0 when every screen was written.
int ConvertFile(const std::string& path, RunContext& context, const std::function<void()>& otherWork) {
  XmlDocument document;
  const Status loaded = LoadDocument(path, document, context, otherWork);
  if (!loaded && loaded.code() != StatusCode::kTextEndedEarly) {
    context.reporter.Failure("Error", kLoadFailed, {}, {path + ": " + loaded.message()});
    return 1;
  }
  ReportDocumentNotes(document, context);
  // A text that ended inside a construct or an open element is not converted at all.
  if (!loaded) {
    const InputPlace place = loaded.place().value_or(InputPlace{});
    context.reporter.Failure("Error", kConvertFailed,
                             {PlaceInFile(path, place.line, place.column) + ": error: " + loaded.message()}, {});
    return 1;
  }
  if (const Status converted = ConvertDocument(document, context); !converted) {
    std::vector<std::string> details;
    if (converted.code() != StatusCode::kAlreadyReported) details.push_back(path + ": " + converted.message());
    context.reporter.Failure("Error", kConvertFailed, {}, details);
    return 1;
  }
  return 0;
}

// The text tables owe nothing to the document: they are read, merged and written under no
// name yet on a thread of their own while the document is loaded, and the file takes its
// place only once every screen did. The parse takes the second processor only once the merge
// is done and gave its memory back (it keeps none but the file it wrote): held together
// with the document's whole, the merge's would raise the run's peak.
class TextTablesMerge {
 public:
  TextTablesMerge(const std::string& path, const RunSettings& settings)
      : task_([this, path, rewrite = !settings.writeNothing, destination = settings.textsOut,
               keepUnchanged = settings.keepUnchanged] {
          MergedTextTables merged = MergeTextTables(path, rewrite, destination, keepUnchanged);
          handOff_.BeforeWaking();  // this thread ends here: the parse may have its processor
          return merged;
        }),
        result_(task_.get_future()) {
    try {
      thread_ = platform::Thread([this] { task_(); });
    } catch (const std::system_error&) {
      // No thread to be had: merged when asked for.
    }
  }

  // Returns once the merge on its own thread is done; at once without that thread.
  void WaitForMerge() {
    if (!thread_.Joinable()) return;
    handOff_.WillWait();
    result_.wait();
    handOff_.Woken();
  }

  MergedTextTables Get() {
    if (!thread_.Joinable()) task_();
    return result_.get();
  }

 private:
  platform::ProcessorHandOff handOff_;
  std::packaged_task<MergedTextTables()> task_;
  std::future<MergedTextTables> result_;
  platform::Thread thread_;  // last: joined first, before the task it runs goes
};

int Run(const std::string& path, RunContext& context) {
  TextTablesMerge merging(path, context.settings);
  if (const int failed = ConvertFile(path, context, [&merging] { merging.WaitForMerge(); })) return failed;
  return ReportTextTables(CommitMergedTable(merging.Get()), context);
}

}  // namespace

Status ConvertDocument(const XmlDocument& document, RunContext& context) {
  const Result<ElementRef> found = FindFirstScreen(document);
  if (!found) return found.status();
  const ElementRef first = *found;

  // The screens' widgets are built in pieces, two at a time; the screens are then warned
  // about, saved and reported one after the other in document order, as if one screen
  // followed the other: a failed save ends the run before the next screen is written.
  std::vector<ElementRef> screens;
  const std::vector<PieceJob> jobs = PlanBesidePictures(document, first, screens, context.pictures);
  bool saved = true;
  bool cut = false;
  {
    PieceBuilder builder(document, jobs, context.pictures);
    std::size_t job = 0;
    for (std::size_t screen = 0; screen < screens.size() && saved; ++screen) {
      MenuOutput output(screens[screen], document, context.settings, context.outputFolder, context.codePages);
      for (; job < jobs.size() && jobs[job].screen == screen; ++job) {
        MenuPiece piece = builder.Take(job);
        // What was read after another process cut the input short is made of zeros where the
        // file was: it is neither warned about nor put in place.
        cut = document.TextCutShort();
        if (cut) break;
        ReportNotes(piece, document, screens[screen], context);
        output.Add(std::move(piece));
        builder.Recycle(output.TakeSpentBuffers());
      }
      cut = cut || document.TextCutShort();
      if (cut) break;
      const std::size_t listed = context.written.size();
      saved = ReportMenuSaved(output.Path(), output.Finish(), document, screens[screen], context);
      builder.Recycle(output.TakeSpentBuffers());
      if (output.Kept() && context.written.size() > listed) ++context.kept;
    }
  }
  if (cut) return platform::CutShortFailure();
  return saved ? Status::Success() : Status::Failure(StatusCode::kAlreadyReported, "");
}

int RunConversion(const std::string& path, RunContext& context) {
  context.documentPath = path;
  try {
    return Run(path, context);
  } catch (...) {
    // Loading turns what it throws into its own failure: what is thrown here came later.
    const Status thrown = ThrownFailure();
    context.reporter.Failure("Error", kConvertFailed, {}, {path + ": " + thrown.message()});
    return 1;
  }
}

int RunConversion(const std::string& path) {
  PlatformReporter reporter;
  RunContext context(reporter);
  return RunConversion(path, context);
}

}  // namespace menuconv
