#include "xml/xml_parser.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <iterator>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/byte_scan.h"
#include "platform/file_io.h"
#include "platform/threads.h"
#include "xml/attribute_scan.h"

namespace menuconv {

namespace {

constexpr uint32_t kNone = ElementRef::kNone;

using namespace byte_scan;

// The first s in [p, end), or nullptr.
const char* FindSequence(const char* p, const char* end, std::string_view s) {
  while (p && p + s.size() <= end) {
    p = Find(p, end, s[0]);
    if (!p || p + s.size() > end) return nullptr;
    if (std::memcmp(p, s.data(), s.size()) == 0) return p;
    ++p;
  }
  return nullptr;
}

// Texts from this size on are read in two parts at once.
constexpr std::size_t kSplitFrom = std::size_t{2} << 20;

// The end of the second part is handed to the first reading when that is done first and this
// much of the second is left: enough that the handing over costs little beside it.
constexpr std::size_t kHandOverFrom = std::size_t{1} << 20;

// A start tag at the start of a line from p on, as a document laid out by lines has many; null
// when none comes soon. The second part of a text read in two parts begins at one.
const char* SplitPointFrom(const char* p, const char* end) {
  const char* const stop = std::min(end, p + (std::size_t{64} << 10));
  while ((p = Find(p, stop, '\n')) != nullptr) {
    while (p < stop && IsBlank(*p)) ++p;
    if (stop - p < 2) return nullptr;
    if (*p == '<' && p[1] != '/' && p[1] != '!' && p[1] != '?' && !IsBlank(p[1])) return p;
  }
  return nullptr;
}

// Where the second part of a text read in two parts begins: past the middle.
const char* SplitPoint(const char* begin, const char* end) { return SplitPointFrom(begin + (end - begin) / 2, end); }

// The first reading of a text read in two parts, done first, asks the second for the end of
// what it has left; the second offers where it will stop (or nothing), and the first reads
// from there as a third part. Should the second reading find that it read past that point
// without stopping there (the point lies inside a comment, a value, ... in its reading), the
// third part is dropped, and the second waits for its reader to stop before it goes on into
// the elements the third part was given.
class TailOffer {
 public:
  TailOffer() : start_(std::chrono::steady_clock::now()), secondStart_(start_) {}
  // The second reading, as it begins to read: it may have waited for the processor first.
  void SecondStarts() { secondStart_ = std::chrono::steady_clock::now(); }
  // The second reading: whether it was asked, cheap enough to look at every construct.
  bool Asked() const { return asked_.load(std::memory_order_acquire); }
  // The second reading, asked, having read `read` bytes while the first read `first`: the
  // share of what it has left that the first reader would read in the time this one reads the
  // rest, each going on at the pace it went so far. Its pace counts from when it began to
  // read: counted from the start, the time it waited made it look slow, and the first reader
  // was handed more than it could read before the second was done.
  double FirstReaderShare(double read, double first) const {
    const double now = Seconds(std::chrono::steady_clock::now() - secondStart_);
    const double firstPace = first / std::max(firstTook_, 1e-6);
    const double pace = read / std::max(now, 1e-6);
    return std::clamp(firstPace / (firstPace + pace), 0.1, 0.9);
  }
  // The second reading: where the third part begins, or null; only the first offer counts.
  void Offer(const char* tail) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (answered_) return;
      answered_ = true;
      tail_ = tail;
    }
    changed_.notify_all();
  }
  // The first reading: asks and waits for the answer, given at the latest when the second
  // reading ends.
  const char* Ask() {
    firstTook_ = Seconds(std::chrono::steady_clock::now() - start_);
    asked_.store(true, std::memory_order_release);
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return answered_; });
    return tail_;
  }
  // The first reading: the third part is read or given up; its elements are free again.
  void TailDone() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      tailDone_ = true;
    }
    changed_.notify_all();
  }
  // The second reading, past the third part's start: drops the third part and waits for its
  // reader to stop.
  void DropTail() {
    tailDropped.store(true, std::memory_order_relaxed);
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return tailDone_; });
  }

  std::atomic<bool> tailDropped{false};  // the third part's reader stops when it is set

 private:
  static double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

  const std::chrono::steady_clock::time_point start_;
  // When the second reading began to read, which only that reading looks at.
  std::chrono::steady_clock::time_point secondStart_;
  double firstTook_ = 0;  // how long the first reading took, set before it asks
  std::atomic<bool> asked_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  bool answered_ = false;
  const char* tail_ = nullptr;
  bool tailDone_ = false;
};

bool StartsWith(const char* p, const char* end, std::string_view s) {
  return static_cast<std::size_t>(end - p) >= s.size() && std::memcmp(p, s.data(), s.size()) == 0;
}

}  // namespace

class Parser {
 public:
  // Elements go to the document's element sequence, which is sized already, from index
  // `first` on and below `limit`.
  Parser(XmlDocument& doc, uint32_t first, uint32_t limit)
      : doc_(doc),
        base_(doc.store_.data()),
        end_(base_ + doc.store_.size()),
        first_(first),
        next_(first),
        limit_(limit) {}

  // Reads the whole text.
  Status Run() { return Finish(ParseFromStart()); }

  // Reads the text in two parts at once: from the start up to `split` here, and from `split`
  // on, on another thread, by `rest`, a parser whose first element index lies past every
  // element before `split`. The second part is read as if nothing were open; where `split`
  // is the start of a construct in the reading from the start, the two are then joined, and
  // the result is the same as reading the whole text in one pass. Where it is not (it lies
  // inside a comment, a value, ...), the other thread's work is dropped and the reading
  // goes on here. Done first, this reading takes over the end of what the other has left
  // (see TailOffer); `tail`, when given, is that end, offered from the start. `restWaits`,
  // when given, is called on the other thread before it reads.
  Status RunSplit(const char* split, Parser& rest, const char* tail, const std::function<void()>& restWaits) {
    std::atomic<bool> dropped{false};
    TailOffer offer;
    Status restStatus;
    std::exception_ptr restError;
    rest.dropped_ = &dropped;
    rest.segment_ = true;
    rest.offer_ = &offer;
    rest.firstPartSize_ = static_cast<std::size_t>(split - base_);
    if (tail) rest.OfferTail(split, tail);
    platform::Thread other;
    try {
      other = platform::Thread([&] {
        try {
          if (restWaits) restWaits();
          offer.SecondStarts();
          restStatus = rest.Parse(split + 1);
        } catch (...) {
          restError = std::current_exception();
        }
        offer.Offer(nullptr);  // asked too late: nothing to take over
      });
    } catch (const std::system_error&) {
      limit_ = rest.limit_;
      return Run();  // no second thread to be had: all of it here
    }
    const auto drop = [&] {
      dropped = true;
      offer.TailDone();
      other.Join();
      limit_ = rest.limit_;  // the other part's room is free again
    };
    stopAt_ = split;
    onOvershoot_ = drop;
    Status status;
    try {
      status = ParseFromStart();
    } catch (...) {
      drop();
      throw;
    }
    if (!stopped_) {
      drop();
      return Finish(status);
    }
    // The end of the other part, read here as a third part while the other reads on.
    Parser third(doc_, 0, rest.limit_);
    Status thirdStatus;
    std::exception_ptr thirdError;
    const char* const thirdStart = offer.Ask();
    if (thirdStart) {
      third.first_ = third.next_ = rest.limit_ - static_cast<uint32_t>(CountStartTags(thirdStart, end_));
      third.segment_ = true;
      third.dropped_ = &offer.tailDropped;
      try {
        thirdStatus = third.Parse(thirdStart + 1);
      } catch (...) {
        thirdError = std::current_exception();
      }
    }
    offer.TailDone();
    other.Join();
    if (restError) std::rethrow_exception(restError);
    // The other part stopped where the third began only when that is the start of a construct
    // in its reading; else it read on to the end, and the third part is of no use.
    if (!rest.stopped_) return Finish(Join(rest, restStatus));
    if (thirdError) std::rethrow_exception(thirdError);
    if (const Status joined = Join(rest, restStatus); !joined) return Finish(joined);
    return Finish(Join(third, thirdStatus));
  }

  uint32_t Count() const { return next_; }

  // Reads the text into the document, in two parts from `splitAt` on, or in two parts where
  // a large text suits (none given).
  static Status ParseText(XmlDocument& document, HeldBytes text, std::optional<std::size_t> splitAt,
                          std::optional<std::size_t> tailAt, const byte_scan::StartTagCounts* startTags = nullptr,
                          const std::function<void()>& secondPartWaits = nullptr);

 private:
  // Places the notes and gives the status.
  Status Finish(const Status& status) {
    // Notes come in the order of the text, so that locating them all is one pass over it.
    TextLocator locator(doc_.store_.view());
    for (std::size_t i = 0; i < notes_.size(); ++i) {
      notes_[i].place = locator.Locate(noteOffsets_[i]);
      doc_.AddNote(std::move(notes_[i]));
    }
    return status;
  }

  // Reads constructs from the first "<" of the text on.
  Status ParseFromStart() {
    const char* const lt = Find(base_, end_, '<');
    return lt ? Parse(lt + 1) : Status{};
  }

  // Reads constructs from p, the byte after a "<".
  Status Parse(const char* p) {
    for (;;) {
      if (offer_ && offer_->Asked()) OfferTail(p - 1, nullptr);
      if (stopAt_ && p - 1 >= stopAt_) {
        if (p - 1 == stopAt_) {
          stopped_ = true;
          return Status{};
        }
        stopAt_ = nullptr;
        onOvershoot_();
      }
      if (dropped_ && dropped_->load(std::memory_order_relaxed)) return Status{};
      if (stack_.empty() && p == end_) return Fail(p - 1, "a tag");
      const uint32_t parent = stack_.empty() ? kNone : stack_.back().node;
      const Construct c = ParseConstruct(p, parent);
      if (c.endTag) {
        if (c.failed) return Fail(c.start, c.what);
        if (!stack_.empty()) {
          CloseInnermost(c.start, c.endTagName);
        } else if (segment_) {
          // It closes what was open before this reading: the run of children found so far ends.
          runLast_ = kNone;
          events_.push_back(Event{kNone, kNone, c.start, c.endTagName});
        }
      } else if (c.node != kNone) {
        if (segment_ && stack_.empty()) {
          AddToRun(c.node);  // a child of what was open before this reading
        } else {
          Link(c.node, c.node, parent, stack_.empty() ? topPrev_ : stack_.back().prev);
        }
        if (c.failed) return Fail(c.start, c.what);
        if (c.open) {
          stack_.push_back(Level{c.node, kNone, c.start});
          p = c.pos;
          continue;
        }
      } else if (c.failed) {
        return Fail(c.start, c.what);
      }

      // The construct is complete; look for the next one at this level.
      const char* const next = c.pos < end_ ? FindNear(c.pos, end_, '<') : nullptr;
      if (!next) {
        endedOutside_ = stack_.empty();
        return stack_.empty() ? Status{} : FailOpenElement();
      }
      p = next + 1;
    }
  }

  // An end tag closes the innermost element, whatever it names.
  void CloseInnermost(const char* start, std::string_view name) {
    const std::string_view open = NameOf(stack_.back().node);
    if (!SameBytes(name, open)) {
      Note(start,
           DocumentNote{DocumentNote::Kind::kEndTagMismatch, {}, 0, std::string(name), std::string(open), {}, {}});
    }
    stack_.pop_back();
  }

  // Of the second part, at p, asked for the end of what it has left (or given it as `tail`):
  // offers where it will stop, so that both readers end at about the same time.
  void OfferTail(const char* p, const char* tail) {
    TailOffer* const offer = offer_;
    offer_ = nullptr;  // asked once
    const auto left = static_cast<std::size_t>(end_ - p);
    if (!tail && left >= kHandOverFrom) {
      const std::size_t read = static_cast<std::size_t>(p - base_) - firstPartSize_;
      const double share = offer->FirstReaderShare(static_cast<double>(read), static_cast<double>(firstPartSize_));
      tail = SplitPointFrom(end_ - static_cast<std::size_t>(static_cast<double>(left) * share), end_);
    }
    if (tail) {
      stopAt_ = tail;
      onOvershoot_ = [offer] { offer->DropTail(); };
    }
    offer->Offer(tail);
  }

  // Takes over what `rest` read from where this reading stopped: its elements move down to
  // follow these, the children it found of what is open here are linked to them, its end tags
  // close them, and its notes follow these in the order of the text.
  Status Join(Parser& rest, const Status& restStatus) {
    auto& nodes = doc_.nodes_;
    const uint32_t from = rest.first_;
    const uint32_t gap = from - next_;
    const uint32_t count = rest.next_ - from;
    const auto moved = [gap, from](uint32_t index) { return index != kNone && index >= from ? index - gap : index; };
    if (gap > 0 && count > 0) {
      std::memmove(&nodes[next_], &nodes[from], std::size_t{count} * sizeof(XmlDocument::Node));
      for (uint32_t i = next_; i < next_ + count; ++i) {
        XmlDocument::Node& n = nodes[i];
        n.parent = moved(n.parent);
        n.firstChild = moved(n.firstChild);
        n.nextSibling = moved(n.nextSibling);
        n.prevSibling = moved(n.prevSibling);
      }
    }
    next_ += count;
    for (auto& [node, text] : rest.squeezed_) nodes[node - gap].text = doc_.StoreString(text);
    // The notes of both parts and those the joining makes, in the order of the text.
    std::size_t taken = 0;
    const auto takeNotesBefore = [&](std::size_t offset) {
      for (; taken < rest.notes_.size() && rest.noteOffsets_[taken] < offset; ++taken) {
        noteOffsets_.push_back(rest.noteOffsets_[taken]);
        notes_.push_back(std::move(rest.notes_[taken]));
      }
    };
    for (const Event& event : rest.events_) {
      if (event.first == kNone) {
        takeNotesBefore(static_cast<std::size_t>(event.start - base_));
        if (!stack_.empty()) CloseInnermost(event.start, event.endTagName);
        continue;
      }
      // A run of children of what is open here: they follow its last child.
      const uint32_t first = event.first - gap;
      const uint32_t last = event.last - gap;
      const uint32_t parent = stack_.empty() ? kNone : stack_.back().node;
      for (uint32_t node = first;; node = nodes[node].nextSibling) {
        nodes[node].parent = parent;
        if (node == last) break;
      }
      Link(first, last, parent, stack_.empty() ? topPrev_ : stack_.back().prev);
    }
    takeNotesBefore(static_cast<std::size_t>(end_ - base_) + 1);
    // Stopped where a third part begins: what it left open is open here.
    if (rest.stopped_) {
      for (const Level& level : rest.stack_) stack_.push_back(Level{moved(level.node), moved(level.prev), level.start});
    }
    if (!restStatus || !rest.endedOutside_) return restStatus;
    return stack_.empty() ? Status{} : FailOpenElement();
  }

  struct Level {
    uint32_t node;
    uint32_t prev;      // the last child linked at this level
    const char* start;  // the "<" of the element's start tag
  };
  // Of a reading from the middle: an element found where nothing of its own was open, or
  // (node none) an end tag found there.
  struct Event {
    uint32_t first;  // a run of siblings, linked already, from first to last; none: an end tag
    uint32_t last;
    const char* start;
    std::string_view endTagName;
  };

  // Of a reading from the middle: an element at its outer level follows the one before unless
  // an end tag of that level came between.
  void AddToRun(uint32_t node) {
    if (runLast_ == kNone) {
      events_.push_back(Event{node, node, nullptr, {}});
    } else {
      Chain(runLast_, node);
      events_.back().last = node;
    }
    runLast_ = node;
  }
  // What ParseConstruct read: a construct that was skipped, an end tag, or an element.
  struct Construct {
    // Where reading goes on; for an open element, right after the "<" that ends its text.
    const char* pos = nullptr;
    uint32_t node = kNone;
    bool endTag = false;
    bool open = false;  // an element whose children follow
    bool failed = false;
    const char* start = nullptr;  // the construct's "<"; when failed, where its unfinished part began
    const char* what = nullptr;   // when failed: the construct the text ended inside
    std::string_view endTagName;  // for an end tag
  };
  // An attribute as written: its name (less the blanks before "="), its opening quote and
  // its closing quote.
  struct Attribute {
    std::string_view name;
    const char* open = nullptr;
    const char* close = nullptr;
    bool suspect = false;  // the value holds "<" or a line feed
    std::string_view Value() const { return std::string_view(open + 1, static_cast<std::size_t>(close - open - 1)); }
  };
  // The attribute names of one start tag, to find a name given again: a small hash table
  // over the first names (256 buckets, keyed by a name's length and three of its bytes, and
  // chained), then a hash map for a long list, so that a tag with a million attributes costs
  // no million comparisons each. Names are views into the text.
  class NameSet {
   public:
    void Clear() {
      count_ = 0;
      std::fill(std::begin(used_), std::end(used_), 0);
      if (!map_.empty()) map_.clear();
    }
    // Adds the name; true when it came before.
    bool Add(std::string_view name) {
      if (count_ >= kKept) return AddToMap(name);
      const auto byte = [&name](std::ptrdiff_t i) {
        return static_cast<unsigned>(static_cast<unsigned char>(name.data()[i]));
      };
      // Only the name's own bytes count: the same name must find the same bucket whatever
      // follows it ("a =" and "a=").
      const auto size = static_cast<std::ptrdiff_t>(name.size());
      const unsigned first = size > 0 ? byte(0) : 0;
      const unsigned second = size > 1 ? byte(1) : 0;
      const unsigned last = size > 0 ? byte(size - 1) : 0;
      const unsigned bucket = (first + 3 * second + 5 * last + 7 * static_cast<unsigned>(size)) & (kBuckets - 1);
      uint64_t& used = used_[bucket / 64];
      const uint64_t bit = uint64_t{1} << (bucket % 64);
      uint8_t chain = kEnd;
      if ((used & bit) != 0) {
        for (chain = head_[bucket]; chain != kEnd; chain = next_[chain]) {
          if (names_[chain] == name) return true;
        }
        chain = head_[bucket];
      }
      used |= bit;
      next_[count_] = chain;
      head_[bucket] = static_cast<uint8_t>(count_);
      names_[count_++] = name;
      return false;
    }

   private:
    static constexpr uint32_t kKept = 64;
    // Four buckets per name kept: the names of a widget's start tag seldom share one.
    static constexpr unsigned kBuckets = 256;
    static constexpr uint8_t kEnd = 0xFF;
    bool AddToMap(std::string_view name) {
      if (count_++ == kKept) map_.insert(names_, names_ + kKept);
      return !map_.insert(name).second;
    }
    uint32_t count_ = 0;
    uint64_t used_[kBuckets / 64] = {};  // the buckets whose head is set
    uint8_t head_[kBuckets];             // the last name of each bucket
    uint8_t next_[kKept];
    std::string_view names_[kKept];
    std::unordered_set<std::string_view> map_;
  };

  static Construct Failed(Construct c, const char* what) {
    c.failed = true;
    c.what = what;
    return c;
  }

  // A skipped construct whose closing bytes, `length` of them, start at close; nullptr when
  // the text ended before them.
  static Construct Skipped(Construct c, const char* close, std::size_t length, const char* what) {
    if (!close) return Failed(c, what);
    c.pos = close + length;
    return c;
  }

  XmlDocument::Span SpanOf(const char* b, const char* e) const {
    return XmlDocument::Span{static_cast<uint32_t>(b - base_), static_cast<uint32_t>(e - b)};
  }

  // Makes `first` to `last` (one element, or a run of siblings linked already) the last
  // children of `parent`, or the last top-level elements when it is none: after `prev`, the
  // element linked at that level before, which becomes `last`.
  void Link(uint32_t first, uint32_t last, uint32_t parent, uint32_t& prev) {
    if (prev != kNone) Chain(prev, first);
    if (parent != kNone && doc_.nodes_[parent].firstChild == kNone) doc_.nodes_[parent].firstChild = first;
    prev = last;
    if (parent == kNone) doc_.lastTopLevel_ = last;
  }

  // Makes `after` the next sibling of `before`.
  void Chain(uint32_t before, uint32_t after) {
    doc_.nodes_[before].nextSibling = after;
    doc_.nodes_[after].prevSibling = before;
  }

  // The construct whose "<" stands right before p, inside the element `parent`.
  Construct ParseConstruct(const char* p, uint32_t parent) {
    Construct c;
    c.start = p - 1;
    if (p == end_) return Failed(c, "a tag");
    // Skipped constructs: declarations, processing instructions, comments, CDATA sections,
    // document type declarations.
    if (*p == '?') return Skipped(c, Find(p, end_, '>'), 1, "a processing instruction");
    if (*p == '!') {
      if (StartsWith(p, end_, "!--")) {
        return Skipped(c, FindSequence(p + 3, end_, "-->"), 3, "a comment");
      }
      if (StartsWith(p, end_, "![CDATA[")) {
        return Skipped(c, FindSequence(p + 8, end_, "]]>"), 3, "a CDATA section");
      }
      if (StartsWith(p, end_, "!DOCTYPE")) {
        return Skipped(c, SkipDoctype(p + 8), 1, "a document type declaration");
      }
    }
    return ParseTag(c, p, parent);
  }

  // A start or end tag from p, the byte after its "<".
  Construct ParseTag(Construct c, const char* p, uint32_t parent) {
    // The tag name; slashes before it mark an end tag.
    while (p < end_ && (IsBlank(*p) || *p == '/')) {
      if (*p == '/') c.endTag = true;
      ++p;
    }
    // It ends at a blank, at ">" or at a "/" right before ">".
    const char* const nameEnd = FindNameEnd(p, end_);
    if (!nameEnd) return Failed(c, c.endTag ? "an end tag" : "a tag name");
    if (!c.endTag) return ParseStartTag(c, p, nameEnd, parent);
    c.endTagName = std::string_view(p, static_cast<std::size_t>(nameEnd - p));
    c.pos = IsBlank(*nameEnd) ? nameEnd + 1 : nameEnd;
    return c;
  }

  // A start tag whose name is [name, nameEnd): its attribute list, its element, and the
  // element's text unless the tag closes the element.
  Construct ParseStartTag(Construct c, const char* name, const char* nameEnd, uint32_t parent) {
    // The attribute list after the blank that ends the name: checked here, read on demand later.
    const char* p = nameEnd;
    const char* listStart = p;
    const char* listEnd = p;
    if (IsBlank(*p)) {
      ++p;
      const char* unfinishedAt = c.start;
      const char* const unfinished = CheckAttributeList(p, listStart, listEnd, unfinishedAt);
      if (unfinished) {
        c.start = unfinishedAt;
        return Failed(c, unfinished);
      }
    }
    // The closing ">"; "?", "!" or "/" on the way make the element self-closing.
    bool selfClosing = false;
    const char* gt = p;
    for (; gt < end_ && *gt != '>'; ++gt) {
      if (*gt == '?' || *gt == '!' || *gt == '/') selfClosing = true;
    }
    c.node = AddElement(SpanOf(name, nameEnd), SpanOf(listStart, listEnd), parent);
    if (gt == end_) return Failed(c, "a start tag");
    if (selfClosing) {
      c.pos = gt + 1;
      return c;
    }
    return ReadText(c, gt + 1);
  }

  // Checks the attribute list from p and moves p to the "/", ">" or "?" after it; [listStart,
  // listEnd) is the list without the blanks around it. Gives the construct that the text
  // ended inside, or nullptr; `unfinishedAt` is then the opening quote of a value that was
  // never closed (else it stays as it was). Notes what the list's reading repairs.
  const char* CheckAttributeList(const char*& p, const char*& listStart, const char*& listEnd,
                                 const char*& unfinishedAt) {
    while (p < end_ && IsBlank(*p)) ++p;
    if (p == end_) return "a start tag";
    listStart = listEnd = p;
    names_.Clear();
    while (!IsTagEnd(*p)) {
      // Most attributes are short: their marks come from one look at 32 bytes, and the
      // attribute is put together only for the rare note.
      const auto marks = ShortAttribute<true>(p, end_);
      const char* eq = marks.equals;
      const char* close = marks.close;
      bool suspect = marks.suspect;
      if (!close) {
        const char* unfinished = nullptr;
        const Attribute a = ReadAttribute(p, unfinished);
        if (!a.close) {
          if (a.open) unfinishedAt = a.open;
          return unfinished;
        }
        eq = a.name.data() + a.name.size();  // the blanks before "=" are left out already
        close = const_cast<const char*>(a.close);
        suspect = a.suspect;
      }
      const char* nameEnd = eq;
      while (nameEnd > p && IsBlank(nameEnd[-1])) --nameEnd;
      const std::string_view name(p, static_cast<std::size_t>(nameEnd - p));
      if (suspect) NoteSuspectValue(AttributeAt(p, close));
      if (names_.Add(name)) NoteRepeated(AttributeAt(p, close), listStart);
      p = close + 1;
      if (p == end_) return "a start tag";
      listEnd = p;
      while (IsBlank(*p)) {
        if (++p == end_) return "a start tag";
      }
    }
    return nullptr;
  }

  // The attribute that starts at p: after the first "=", the first quote, then the next of
  // that quote. When the text ends first, `close` is null and `unfinished` tells which part
  // of the attribute the text ended inside.
  Attribute ReadAttribute(const char* p, const char*& unfinished) const {
    Attribute a;
    const char* eq;
    if (const auto marks = ShortAttribute<true>(p, end_); marks.close) {
      eq = marks.equals;
      a.open = eq + 1;
      a.close = marks.close;
      a.suspect = marks.suspect;
    } else {
      eq = FindNear(p, end_, '=');
      if (!eq) {
        unfinished = "an attribute name";
        return a;
      }
      const char* q = eq + 1;
      while (q < end_ && *q != '"' && *q != '\'') ++q;
      if (q == end_) {
        unfinished = "an attribute value";
        return a;
      }
      a.open = q;
      a.close = FindNear(q + 1, end_, *q);
      if (!a.close) {
        unfinished = "an attribute value";
      } else {
        const std::size_t length = static_cast<std::size_t>(a.close - q - 1);
        a.suspect = std::memchr(q + 1, '<', length) != nullptr || std::memchr(q + 1, '\n', length) != nullptr;
      }
    }
    const char* nameEnd = eq;
    while (nameEnd > p && IsBlank(nameEnd[-1])) --nameEnd;
    a.name = std::string_view(p, static_cast<std::size_t>(nameEnd - p));
    return a;
  }

  // An attribute whose name came before in the list that starts at listStart: the first
  // value counts.
  void NoteRepeated(const Attribute& a, const char* listStart) {
    const std::string_view before(listStart, static_cast<std::size_t>(a.name.data() - listStart));
    std::string_view kept;
    bool found = false;
    ScanAttributeList(before, end_, [&](std::string_view name, std::string_view value) {
      if (!found && name == a.name) {
        found = true;
        kept = value;
      }
    });
    Note(a.name.data(), DocumentNote{DocumentNote::Kind::kRepeatedAttribute,
                                     {},
                                     0,
                                     std::string(a.name),
                                     {},
                                     std::string(kept),
                                     std::string(a.Value())});
  }

  // A value that holds "<" or a line break has most likely lost its closing quote, and the
  // value took in what followed.
  // The attribute from p to its closing quote, read again for a note.
  Attribute AttributeAt(const char* p, const char* close) const {
    const char* unfinished = nullptr;
    Attribute a = ReadAttribute(p, unfinished);
    a.close = close;
    return a;
  }

  void NoteSuspectValue(const Attribute& a) {
    const char* q = a.open + 1;
    while (*q != '<' && *q != '\n') ++q;
    const auto kind = *q == '<' ? DocumentNote::Kind::kValueWithTag : DocumentNote::Kind::kValueWithLineBreak;
    Note(a.open, DocumentNote{kind, {}, 0, std::string(a.name), {}, {}, {}});
  }

  // Adds the element of a start tag as a child of parent and gives its index; Parse links it
  // to its parent and siblings.
  uint32_t AddElement(XmlDocument::Span name, XmlDocument::Span attributeList, uint32_t parent) {
    if (next_ >= limit_) throw std::length_error("too many elements");
    const uint32_t node = next_++;
    // Set whole: the place holds nothing yet, or what a dropped reading left.
    doc_.nodes_[node] = XmlDocument::Node{name, XmlDocument::Span{}, attributeList, parent, kNone, kNone, kNone};
    return node;
  }

  // The text of the element c from p: every byte up to the next "<" except blanks. The
  // element stays open for the children that follow.
  Construct ReadText(Construct c, const char* p) {
    const TextEnd<const char> end = FindTextEnd(p, end_);
    // Most texts are short words that stand as written.
    doc_.nodes_[c.node].text = end.blankFree ? SpanOf(p, end.lt) : CollectText(c.node, p, end.lt ? end.lt : end_);
    if (!end.lt) return Failed(c, "an element's text");
    c.open = true;
    c.pos = end.lt + 1;
    return c;
  }

  // Drops the blanks of [b, e) and gives the span of what is left: the text's own bytes when
  // no blank lies inside, else a copy without them (the text itself is never written to).
  XmlDocument::Span CollectText(uint32_t node, const char* b, const char* e) {
    while (b < e && IsBlank(*b)) ++b;
    const char* last = e;
    while (last > b && IsBlank(last[-1])) --last;
    const char* blank = b;
    while (blank < last && !IsBlank(*blank)) ++blank;
    if (blank == last) return SpanOf(b, last);
    std::string squeezed(b, blank);
    for (const char* in = blank; in < last; ++in) {
      if (!IsBlank(*in)) squeezed += *in;
    }
    // The document's own store is the first part's alone while the parts are read at once.
    if (segment_) {
      squeezed_.emplace_back(node, std::move(squeezed));
      return XmlDocument::Span{};
    }
    return doc_.StoreString(squeezed);
  }

  // The ">" that ends a document type declaration, past quoted strings and an internal
  // subset in square brackets (which may itself hold ">" and comments).
  const char* SkipDoctype(const char* p) const {
    bool inSubset = false;
    while (p < end_) {
      const char ch = *p;
      if (ch == '"' || ch == '\'') {
        const char* const close = Find(p + 1, end_, ch);
        if (!close) return nullptr;
        p = close + 1;
        continue;
      }
      if (inSubset) {
        if (StartsWith(p, end_, "<!--")) {
          const char* const close = FindSequence(p + 4, end_, "-->");
          if (!close) return nullptr;
          p = close + 3;
          continue;
        }
        if (ch == ']') inSubset = false;
      } else if (ch == '[') {
        inSubset = true;
      } else if (ch == '>') {
        return p;
      }
      ++p;
    }
    return nullptr;
  }

  Status FailOpenElement() {
    const Level& open = stack_.back();
    return Fail(open.start, "the element \"" + std::string(NameOf(open.node)) + "\"");
  }

  Status Fail(const char* at, std::string what) {
    const auto offset = static_cast<std::size_t>(at - base_);
    const TextPlace place = TextLocator(doc_.store_.view()).Locate(offset);
    return Status::Failure(StatusCode::kTextEndedEarly, "the text ended inside " + what,
                           InputPlace{offset, place.line, place.column});
  }

  std::string_view NameOf(uint32_t node) const {
    const XmlDocument::Span name = doc_.nodes_[node].name;
    return std::string_view(base_ + name.offset, name.length);
  }

  void Note(const char* at, DocumentNote note) {
    noteOffsets_.push_back(static_cast<std::size_t>(at - base_));
    notes_.push_back(std::move(note));
  }

  XmlDocument& doc_;
  const char* base_ = nullptr;
  const char* end_ = nullptr;
  uint32_t first_;  // the first element index this reading uses
  uint32_t next_;
  uint32_t limit_;
  uint32_t topPrev_ = kNone;  // the last top-level element linked
  std::vector<Level> stack_;
  // Reading in two parts: where the first stops, and what it does on finding that it read
  // past that point without stopping there.
  const char* stopAt_ = nullptr;
  bool stopped_ = false;
  std::function<void()> onOvershoot_;
  // The second part: read from the middle (see Event), and told when its work is dropped.
  bool segment_ = false;
  const std::atomic<bool>* dropped_ = nullptr;
  bool endedOutside_ = false;      // the text ended with nothing of this reading's own open
  TailOffer* offer_ = nullptr;     // until asked for the end of what it has left
  std::size_t firstPartSize_ = 0;  // the first part's, read at the same time
  std::vector<Event> events_;
  uint32_t runLast_ = kNone;  // the last element of the run being read, if any
  std::vector<std::pair<uint32_t, std::string>> squeezed_;
  NameSet names_;
  std::vector<DocumentNote> notes_;
  std::vector<std::size_t> noteOffsets_;
};

Status Parser::ParseText(XmlDocument& document, HeldBytes text, std::optional<std::size_t> splitAt,
                         std::optional<std::size_t> tailAt, const byte_scan::StartTagCounts* startTags,
                         const std::function<void()>& secondPartWaits) {
  document.Clear();
  if (text.size() > 0xFFFFFFFFu) throw std::length_error("document larger than 4 GiB");
  document.store_ = std::move(text);
  if (!splitAt) {
    const char* const data = document.store_.data();
    const std::size_t size = document.store_.size();
    const char* const point = size >= kSplitFrom ? SplitPoint(data, data + size) : nullptr;
    splitAt = point ? static_cast<std::size_t>(point - data) : size;
  }
  // The element sequence is sized once, for at most one element per start tag, and is cut to
  // what was read at the end: regrowing it would copy every element and hold the old and new
  // sequences at once.
  const char* const begin = document.store_.data();
  const char* const end = begin + document.store_.size();
  const char* const split = *splitAt < document.store_.size() ? begin + *splitAt : nullptr;
  std::size_t before = 0;
  std::size_t bound = 0;
  if (startTags) {
    before = split ? startTags->Before(begin, static_cast<std::size_t>(split - begin), end) : 0;
    bound = startTags->Before(begin, document.store_.size(), end);
  } else {
    before = split ? byte_scan::CountStartTags(begin, split) : 0;
    bound = before + byte_scan::CountStartTags(split ? split : begin, end);
  }
  const auto limit = static_cast<uint32_t>(std::min<std::size_t>(bound, kNone - 1));
  document.nodes_.reserve(limit);
  document.nodes_.resize(limit);
  Parser parser(document, 0, split ? static_cast<uint32_t>(before) : limit);
  Status status;
  try {
    if (split) {
      Parser rest(document, static_cast<uint32_t>(before), limit);
      const char* const tail =
          tailAt && begin + *tailAt > split && *tailAt < document.store_.size() ? begin + *tailAt : nullptr;
      status = parser.RunSplit(split, rest, tail, secondPartWaits);
    } else {
      status = parser.Run();
    }
  } catch (...) {
    document.nodes_.clear();
    throw;
  }
  document.nodes_.resize(parser.Count());
  document.parsedCount_ = parser.Count();
  return status;
}

Status ParseDocument(XmlDocument& document, HeldBytes text, const std::function<void()>& secondPartWaits) {
  return Parser::ParseText(document, std::move(text), std::nullopt, std::nullopt, nullptr, secondPartWaits);
}

Status ParseDocument(XmlDocument& document, HeldBytes text, const byte_scan::StartTagCounts& startTags,
                     const std::function<void()>& secondPartWaits) {
  return Parser::ParseText(document, std::move(text), std::nullopt, std::nullopt, &startTags, secondPartWaits);
}

Status ParseDocumentSplitAt(XmlDocument& document, HeldBytes text, std::size_t splitAt,
                            std::optional<std::size_t> tailAt) {
  return Parser::ParseText(document, std::move(text), splitAt, tailAt);
}

Status ParseDocument(XmlDocument& document, ByteBuffer text) {
  return ParseDocument(document, HeldBytes(std::move(text)));
}

Status ParseDocument(XmlDocument& document, std::string_view text) {
  ByteBuffer copy;
  copy.Append(text);
  return ParseDocument(document, std::move(copy));
}

}  // namespace menuconv
