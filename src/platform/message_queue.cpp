#include "platform/message_queue.h"

bool platform_is_input(MessageKind kind) {
  switch (kind) {
    case MSG_CLOSE: case MSG_KEY_DOWN: case MSG_MOUSE_MOVE: case MSG_LEFT_DOWN: case MSG_LEFT_UP:
    case MSG_LEFT_DOUBLE: case MSG_RIGHT_DOWN: case MSG_RIGHT_DOUBLE: case MSG_DROP_FILES:
      return true;
    default:
      return false;
  }
}

bool MessageQueue::take(Message* message) {
  if (messages_.empty()) return false;
  *message = std::move(messages_.front());
  messages_.pop_front();
  return true;
}

bool MessageQueue::holds_input() const {
  for (const Message& m : messages_)
    if (platform_is_input(m.kind)) return true;
  return false;
}

bool MessageQueue::holds_mouse_move(PlatformWindow window) const {
  for (const Message& m : messages_)
    if (m.kind == MSG_MOUSE_MOVE && m.window == window) return true;
  return false;
}
