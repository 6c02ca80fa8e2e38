// The shared copy of a window's pixels (clip, fill, blit and the pixels they write, scroll,
// update area) and the timers kept by loops without system timers.
#include <gtest/gtest.h>

#include <array>

#include "platform/frame.h"
#include "platform/timer_queue.h"
#include "support/test_support.h"

namespace {

// A frame whose pixel at (x, y) holds y * 1000 + x + 1 (never 0, which uncovered strips get).
Frame numbered(int32_t width, int32_t height) {
  Frame f;
  f.resize(width, height);
  std::vector<uint32_t> src(static_cast<size_t>(width) * height);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) src[static_cast<size_t>(y) * width + x] = y * 1000 + x + 1;
  f.blit(0, 0, width, height, width, src.data());
  f.take_dirty();
  return f;
}

uint32_t at(const Frame& f, int32_t x, int32_t y) { return f.pixels()[static_cast<size_t>(y) * f.width() + x]; }

}  // namespace

TEST(Frame, FillsAndBlitsStayInsideTheClipAndTheWindow) {
  Frame f;
  f.resize(20, 10);
  f.set_clip(PlatformRect{5, 2, 30, 8});
  EXPECT_EQ(f.fill(PlatformRect{0, 0, 20, 10}, 0xABCDEF), 15 * 6);  // the pixels written
  EXPECT_EQ(at(f, 4, 5), 0u);
  EXPECT_EQ(at(f, 5, 2), 0xABCDEFu);
  EXPECT_EQ(at(f, 19, 7), 0xABCDEFu);
  EXPECT_EQ(at(f, 19, 8), 0u);
  std::vector<PlatformRect> dirty = f.take_dirty();
  EXPECT_EQ(dirty, (PlatformRects{{5, 2, 20, 8}}));

  // A blit partly off the left and top edges, rows 8 pixels apart in the source.
  f.reset_clip();
  std::vector<uint32_t> src(8 * 4);
  for (size_t i = 0; i < src.size(); ++i) src[i] = 100 + static_cast<uint32_t>(i);
  EXPECT_EQ(f.blit(-2, -1, 5, 4, 8, src.data()), 3 * 3);
  EXPECT_EQ(at(f, 0, 0), 100u + 8 + 2);  // source row 1, column 2
  EXPECT_EQ(at(f, 2, 2), 100u + 24 + 4);
  EXPECT_EQ(at(f, 3, 0), 0u);  // past the source width
  dirty = f.take_dirty();
  EXPECT_EQ(dirty, (PlatformRects{{0, 0, 3, 3}}));
  f.blit(0, 0, 5, 4, 8, nullptr);  // nothing to copy: nothing happens
  EXPECT_FALSE(f.has_dirty());
}

TEST(Frame, ScrollMovesPixelsAndReportsTheUncoveredStrips) {
  struct Case {
    int32_t dx, dy;
    PlatformRects uncovered;
    std::vector<std::array<int32_t, 3>> probes;  // x, y, value afterwards (0: uncovered)
  };
  const Case cases[] = {
      {3, 2, {{0, 0, 10, 2}, {0, 2, 3, 8}}, {{3, 2, 1}, {9, 7, 5 * 1000 + 6 + 1}, {2, 5, 0}, {9, 1, 0}}},
      {-4, -3, {{0, 5, 10, 8}, {6, 0, 10, 5}}, {{0, 0, 3 * 1000 + 4 + 1}, {5, 4, 7 * 1000 + 9 + 1}, {6, 0, 0}}},
      {0, -1, {{0, 7, 10, 8}}, {{0, 6, 7 * 1000 + 1}, {9, 6, 7 * 1000 + 10}}},  // every column moves
      {0, 8, {{0, 0, 10, 8}}, {{5, 5, 0}}},  // as far as the height: all is uncovered
      {0, 0, {}, {{5, 5, 5 * 1000 + 6}}}};
  for (const Case& c : cases) {
    Frame f = numbered(10, 8);
    std::vector<PlatformRect> uncovered;
    f.scroll(c.dx, c.dy, &uncovered);
    EXPECT_EQ(uncovered, c.uncovered) << c.dx << ", " << c.dy;
    for (const auto& [x, y, value] : c.probes) EXPECT_EQ(at(f, x, y), uint32_t(value)) << x << ", " << y;
    EXPECT_EQ(f.has_dirty(), c.dx != 0 || c.dy != 0);
  }
}

TEST(Frame, TheUpdateAreaMergesAndMovesWithScrolledPixels) {
  Frame f = numbered(100, 100);
  f.invalidate(PlatformRect{10, 10, 20, 20});
  f.invalidate(PlatformRect{12, 12, 18, 18});  // inside: nothing new
  f.invalidate(PlatformRect{-5, 95, 5, 120});  // clipped to the window
  f.invalidate(PlatformRect{50, 50, 50, 60});  // empty
  std::vector<PlatformRect> update = f.take_update();
  EXPECT_EQ(update, (PlatformRects{{10, 10, 20, 20}, {0, 95, 5, 100}}));
  EXPECT_FALSE(f.has_update());

  f.invalidate(PlatformRect{10, 10, 20, 20});
  std::vector<PlatformRect> uncovered;
  f.scroll(-5, 0, &uncovered);
  update = f.take_update();
  EXPECT_EQ(update, (PlatformRects{{5, 10, 15, 20}}));

  // Many pieces are gathered into fewer, larger rectangles; none is lost.
  for (int32_t i = 0; i < 40; ++i) f.invalidate(PlatformRect{i * 2, i, i * 2 + 1, i + 1});
  update = f.take_update();
  EXPECT_LE(update.size(), 32u);
  for (int32_t i = 0; i < 40; ++i) {
    bool covered = false;
    for (const PlatformRect& r : update)
      covered |= r.left <= i * 2 && r.top <= i && r.right >= i * 2 + 1 && r.bottom >= i + 1;
    EXPECT_TRUE(covered) << i;
  }
}

TEST(Frame, ResizingKeepsWhatStillFits) {
  Frame f = numbered(10, 8);
  f.invalidate(PlatformRect{0, 0, 10, 8});
  f.resize(6, 12);
  EXPECT_EQ(f.width(), 6);
  EXPECT_EQ(f.height(), 12);
  EXPECT_EQ(at(f, 5, 7), 7 * 1000 + 5 + 1u);
  EXPECT_EQ(at(f, 0, 8), 0u);
  std::vector<PlatformRect> update = f.take_update();
  EXPECT_EQ(update, (PlatformRects{{0, 0, 6, 8}}));
  f.resize(-3, 4);
  EXPECT_EQ(f.width(), 0);
  EXPECT_TRUE(f.pixels().empty());
}

TEST(TimerQueue, OneShotTimersByWindowAndId) {
  TimerQueue timers;
  PlatformWindow window = 0;
  int32_t id = 0;
  EXPECT_EQ(timers.wait_time(0), -1);
  timers.set(1, 3, 500);
  timers.set(1, 1, 200);
  timers.set(2, 1, 200);  // same id, other window: its own timer
  timers.set(1, 1, 200);  // started again: now after window 2's
  timers.set(1, 3, 300);  // replaces the pending timer 3
  EXPECT_EQ(timers.wait_time(100), 100);
  EXPECT_FALSE(timers.take_due(199, &window, &id));
  ASSERT_TRUE(timers.take_due(1000, &window, &id));
  EXPECT_EQ(window, 2u);  // equal due times: in the order they were started
  EXPECT_EQ(id, 1);
  ASSERT_TRUE(timers.take_due(1000, &window, &id));
  EXPECT_EQ(window, 1u);
  EXPECT_EQ(timers.wait_time(250), 50);
  EXPECT_TRUE(timers.pending(1, 3));
  ASSERT_TRUE(timers.take_due(1000, &window, &id));
  EXPECT_EQ(id, 3);
  EXPECT_FALSE(timers.take_due(1000, &window, &id));  // each fires once
  EXPECT_TRUE(timers.empty());

  timers.set(1, 1, 10);
  EXPECT_EQ(timers.wait_time(50), 0);  // overdue
  timers.kill(1, 1);
  EXPECT_FALSE(timers.pending(1, 1));
  EXPECT_EQ(timers.wait_time(50), -1);
}
