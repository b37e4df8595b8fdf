// The widgets of the screens are built in pieces on the thread that asks for them and one
// more, and handed over in document order.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <optional>
#include <vector>

#include "convert/menu_builder.h"
#include "convert/picture_registry.h"
#include "platform/threads.h"
#include "xml/xml_document.h"

namespace menuconv {

// Widgets per piece: enough that handing a piece to another thread costs little, few enough
// that a screen of many thousand widgets is shared out.
inline constexpr std::size_t kPieceChildren = 1024;

struct PieceJob {
  std::size_t screen;  // position in the list of screens
  ElementRef firstChild;
};

// The pieces of every screen among `first` and its following siblings named MENU_MODULE,
// in document order; `screens` receives the screens.
std::vector<PieceJob> PlanPieces(const XmlDocument& document, ElementRef first, std::vector<ElementRef>& screens);

class PieceBuilder {
 public:
  // How many pieces may be finished ahead of the one handed over next: bounds the memory that
  // finished pieces hold while a slow save is under way.
  static constexpr std::size_t kLookAhead = 4;

  // Building only reads the document and the registry, which must not change meanwhile.
  PieceBuilder(const XmlDocument& document, const std::vector<PieceJob>& jobs, const PictureRegistry& registry);
  ~PieceBuilder();
  PieceBuilder(const PieceBuilder&) = delete;
  PieceBuilder& operator=(const PieceBuilder&) = delete;

  // The piece of job i, which must follow the one taken before; builds others meanwhile.
  // What building threw on the other thread is thrown here.
  MenuPiece Take(std::size_t i);
  // Buffers of pieces written, to build the next pieces in: a piece's memory then stays with
  // the thread that fills it, instead of being freed on another one, which waits for the
  // filling thread's allocator, and allocated and grown again.
  void Recycle(std::vector<ByteBuffer> buffers);

 private:
  void Work();
  bool BuildNext(std::unique_lock<std::mutex>& lock);

  const XmlDocument& document_;
  const std::vector<PieceJob>& jobs_;
  const PictureRegistry& registry_;
  std::mutex mutex_;
  std::condition_variable changed_;
  // The pieces built and not yet handed over, job i at i % kLookAhead: a slot for every job
  // was fresh memory for hundreds of screens.
  std::array<std::optional<MenuPiece>, kLookAhead> done_;
  std::vector<ByteBuffer> spare_;
  std::size_t next_ = 0;   // the first job nobody took
  std::size_t taken_ = 0;  // jobs before this one were handed over
  bool stopping_ = false;
  std::exception_ptr error_;
  platform::Thread thread_;  // last: it starts once the state above exists
};

}  // namespace menuconv
