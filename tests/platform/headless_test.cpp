// The headless backend: paint counting, timers and waiting input (its windows, first paint and
// exits are the viewer's start-up, screenshot and close tests').
#include <gtest/gtest.h>

#include "platform/headless/headless.h"
#include "support/test_support.h"

namespace {

std::vector<Message> g_seen;
void record(const Message& m) { g_seen.push_back(m); }

class Headless : public ::testing::Test {
 protected:
  void SetUp() override {
    g_seen.clear();
    main = hp.create_main_window("title", record);
    doc = hp.create_document_window(main, record);
  }
  HeadlessPlatform hp{40, 30};
  PlatformWindow main = 0, doc = 0;
};

// The pixels a paint pass writes and how they are counted are the frame's (see frame_test):
// the backend passes its clip on and adds the counts up.
TEST_F(Headless, PaintPassesAreClippedAndCounted) {
  hp.set_clip(doc, PlatformRect{5, 5, 10, 10});
  hp.fill_rect(doc, PlatformRect{0, 0, 40, 30}, 0xABCDEF);
  EXPECT_EQ(hp.painted_pixels(), 25);
}

// Which timer fires when is the timer queue's (see frame_test), and firing by the clock is the
// animation tests'; here a due timer waits while input waits, and is fired by hand.
TEST_F(Headless, TimersWaitForInputOrFireByHand) {
  hp.pump();
  g_seen.clear();
  hp.set_timer(main, 3, 0);
  hp.set_input_waiting(true);
  hp.pump();
  EXPECT_TRUE(g_seen.empty());
  EXPECT_TRUE(hp.fire_timer(3));
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_EQ(std::make_pair(g_seen[0].kind, g_seen[0].code), std::make_pair(MSG_TIMER, 3));
  EXPECT_FALSE(hp.fire_timer(3));
}

// Queued input ends a redraw's time slice (which kinds count is the message queue's).
TEST_F(Headless, InputWaitingAndMouseMovesAreSeenInTheQueue) {
  hp.pump();
  EXPECT_FALSE(hp.input_waiting());
  hp.mouse(MSG_MOUSE_MOVE, 1, 2, true);
  EXPECT_TRUE(hp.input_waiting());
  EXPECT_TRUE(hp.mouse_move_waiting(doc));
  hp.pump();
  EXPECT_FALSE(hp.input_waiting());
}

}  // namespace
