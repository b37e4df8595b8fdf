#include "app/piece_builder.h"

namespace menuconv {

namespace {

// Spare buffers kept: one for each piece that may be under way, and smaller ones than this are
// not worth keeping.
constexpr std::size_t kSpareBuffers = PieceBuilder::kLookAhead + 2;
constexpr std::size_t kSmallestSpare = std::size_t{4} << 10;

}  // namespace

std::vector<PieceJob> PlanPieces(const XmlDocument& document, ElementRef first, std::vector<ElementRef>& screens) {
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
  return jobs;
}

PieceBuilder::PieceBuilder(const XmlDocument& document, const std::vector<PieceJob>& jobs,
                           const PictureRegistry& registry)
    : document_(document), jobs_(jobs), registry_(registry) {
  if (jobs.size() > 1) thread_ = platform::Thread([this] { Work(); });
}

PieceBuilder::~PieceBuilder() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.Join();
}

MenuPiece PieceBuilder::Take(std::size_t i) {
  std::unique_lock<std::mutex> lock(mutex_);
  std::optional<MenuPiece>& done = done_[i % kLookAhead];
  while (!done) {
    if (error_) std::rethrow_exception(error_);
    if (!BuildNext(lock)) changed_.wait(lock);
  }
  MenuPiece piece = std::move(*done);
  done.reset();
  taken_ = i + 1;
  changed_.notify_all();
  return piece;
}

void PieceBuilder::Recycle(std::vector<ByteBuffer> buffers) {
  const std::lock_guard<std::mutex> lock(mutex_);
  for (ByteBuffer& buffer : buffers) {
    if (spare_.size() == kSpareBuffers) break;
    if (buffer.capacity() >= kSmallestSpare) spare_.push_back(std::move(buffer));
  }
}

void PieceBuilder::Work() {
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
bool PieceBuilder::BuildNext(std::unique_lock<std::mutex>& lock) {
  if (next_ >= jobs_.size() || next_ >= taken_ + kLookAhead) return false;
  const std::size_t i = next_++;
  ByteBuffer body;
  if (!spare_.empty()) {
    body = std::move(spare_.back());
    spare_.pop_back();
  }
  lock.unlock();
  MenuPiece piece = BuildMenuPiece(jobs_[i].firstChild, kPieceChildren, document_, registry_, std::move(body));
  lock.lock();
  done_[i % kLookAhead] = std::move(piece);
  changed_.notify_all();
  return true;
}

}  // namespace menuconv
