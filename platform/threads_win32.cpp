#include "platform/threads.h"

namespace menuconv::platform {

void Thread::Start(std::unique_ptr<Work> work) {
  thread_ = std::thread([body = std::move(work)] { body->Run(); });
  started_ = true;
}

void Thread::Join() noexcept {
  if (!started_) return;
  thread_.join();
  started_ = false;
}

// Windows looks for an idle processor for a thread it wakes.
void ProcessorHandOff::WillWait() {}
void ProcessorHandOff::BeforeWaking() {}
void ProcessorHandOff::Woken() {}

}  // namespace menuconv::platform
