// Messages waiting for the window procedures of a backend whose system does not queue them
// in the platform's own terms (headless, SDL).
#pragma once
#include <deque>

#include "platform/platform.h"

// Messages a user makes: keys, the mouse, drops, and the request to close the window. They
// end a redraw time slice, so a close request is answered at once instead of after the
// painting in progress.
bool platform_is_input(MessageKind kind);

class MessageQueue {
 public:
  void post(Message message) { messages_.push_back(std::move(message)); }
  bool take(Message* message);  // the oldest; false when empty
  bool empty() const { return messages_.empty(); }
  void clear() { messages_.clear(); }
  bool holds_input() const;
  bool holds_mouse_move(PlatformWindow window) const;

 private:
  std::deque<Message> messages_;
};
