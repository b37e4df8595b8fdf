#include "platform/messages.h"

#include "platform/messages_native.h"

#include <utility>

namespace menuconv::platform {

namespace {

MessageSink& CurrentMessageSink() {
  static MessageSink sink;
  return sink;
}

WarningSink& CurrentWarningSink() {
  static WarningSink sink;
  return sink;
}

}  // namespace

void ShowMessage(const std::string& caption, const std::string& text,
                 const std::vector<std::string>& details) {
  if (CurrentMessageSink()) {
    CurrentMessageSink()(caption, text, details);
  } else {
    ShowMessageNative(caption, text, details);
  }
}

void ShowWarning(const std::string& text) {
  if (CurrentWarningSink()) {
    CurrentWarningSink()(text);
  } else {
    ShowWarningNative(text);
  }
}

MessageSink SetMessageSink(MessageSink sink) { return std::exchange(CurrentMessageSink(), std::move(sink)); }
WarningSink SetWarningSink(WarningSink sink) { return std::exchange(CurrentWarningSink(), std::move(sink)); }

}  // namespace menuconv::platform
