// The queue shared by the backends that keep their own messages, and what counts as input
// for the redraw's time slices.
#include <gtest/gtest.h>

#include "platform/message_queue.h"

namespace {

TEST(MessageQueue, UserActionsAndTheCloseRequestAreInputTheRestIsNot) {
  for (MessageKind kind : {MSG_CLOSE, MSG_KEY_DOWN, MSG_MOUSE_MOVE, MSG_LEFT_DOWN, MSG_LEFT_UP,
                           MSG_LEFT_DOUBLE, MSG_RIGHT_DOWN, MSG_RIGHT_DOUBLE, MSG_DROP_FILES})
    EXPECT_TRUE(platform_is_input(kind)) << kind;
  for (MessageKind kind : {MSG_DESTROY, MSG_SIZE, MSG_TIMER, MSG_PAINT, MSG_SET_FOCUS, MSG_KILL_FOCUS})
    EXPECT_FALSE(platform_is_input(kind)) << kind;
}

TEST(MessageQueue, MouseMovesAreSeenPerWindowAndTakenInOrder) {
  MessageQueue queue;
  Message move;
  move.kind = MSG_MOUSE_MOVE;
  move.window = 2;
  queue.post(move);
  move.x = 5;
  queue.post(move);
  EXPECT_TRUE(queue.holds_mouse_move(2));
  EXPECT_FALSE(queue.holds_mouse_move(1));
  Message taken;
  ASSERT_TRUE(queue.take(&taken));
  EXPECT_EQ(taken.x, 0);
  ASSERT_TRUE(queue.take(&taken));
  EXPECT_EQ(taken.x, 5);
  EXPECT_FALSE(queue.take(&taken));
}

}  // namespace
