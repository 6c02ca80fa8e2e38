// The display end to end on the headless platform: what a hand-made image looks like in the
// window at known scales, resumed redraws and scrolling.
#include <gtest/gtest.h>

#include <cmath>

#include "core/errors.h"
#include "core/group.h"
#include "display/display.h"
#include "image/image.h"
#include "viewer/viewer.h"
#include "viewer/viewer_harness.h"
#include "display/zone.h"

namespace {

uint32_t pattern(int32_t x, int32_t y) { return (uint32_t(x * 37 % 256) << 16) | (uint32_t(y * 59 % 256) << 8) | uint32_t((x + y) % 256); }

class Redraw : public ViewerHarness {
 protected:
  // The picture expected at this origin and scale, computed pixel by pixel from the image.
  std::vector<uint32_t> expected(const ImageRecord* image, double ox, double oy, double scale) {
    const int32_t W = hp->width(hp->document_window()), H = hp->height(hp->document_window());
    std::vector<uint32_t> out(size_t(W) * H);
    for (int32_t y = 0; y < H; ++y)
      for (int32_t x = 0; x < W; ++x) {
        double wx = x / scale - ox, wy = y / scale - oy;
        bool inside = wx >= 0 && wy >= 0 && wx < image->width && wy < image->height;
        out[size_t(y) * W + x] = inside ? pattern(int32_t(std::floor(x / scale - ox)), int32_t(std::floor(y / scale - oy)))
                                        : 0xFFFFFFu;
      }
    return out;
  }
  void place(double ox, double oy, double scale) {
    hp->guard([&] {
      view_place(viewer, ox, oy, scale);
      redraw_now(viewer);
    });
  }
};

TEST_F(Redraw, KnownImageAtKnownScalesIsNearestNeighbour) {
  ASSERT_TRUE(start({}, 240, 160));
  ImageRecord* image = show_made(60, 40, pattern);
  for (double scale : {1.0, 2.0, 0.5, 4.0}) {
    for (double origin : {0.0, 16.0, -8.0}) {
      SCOPED_TRACE(scale);
      SCOPED_TRACE(origin);
      hp->clear_pixels(hp->document_window(), 0x123456);
      place(origin, origin / 2, scale);
      EXPECT_TRUE(frame() == expected(image, origin, origin / 2, scale));
    }
  }
  EXPECT_EQ(g_error, 0);
}

TEST_F(Redraw, InterruptedRedrawsResumeToTheSamePicture) {
  // Several separate areas to paint (world columns x0 + i * step, `width` wide, rows y0 to
  // y1), so that the slice of time can run out between them. Each clock reading is
  // `clock_step` ms later; the redraw goes on from timer 1, once through the loop, or by
  // firing the timer as often as it is set.
  struct Case {
    double origin, scale;
    int areas;
    double x0, step, width, y0, y1;
    int clock_step;
    bool through_loop;
  };
  const Case cases[] = {{3, 2.0, 6, 0, 10, 7, 0, 45, 100, true}, {5, 1.0, 8, -10, 12, 11, -5, 50, 80, false}};
  ASSERT_TRUE(start({}, 200, 120));
  show_made(90, 50, pattern);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scale);
    hp->set_clock_step(0);
    hp->set_input_waiting(false);
    place(c.origin, c.origin, c.scale);
    const std::vector<uint32_t> whole = frame();
    hp->clear_pixels(hp->document_window(), 0);
    hp->guard([&] {
      for (int i = 0; i < c.areas; ++i)
        window_invalidate(viewer.document_window, viewer.view, Rect{c.x0 + i * c.step, c.y0, c.x0 + i * c.step + c.width, c.y1});
    });
    hp->set_input_waiting(true);
    hp->set_clock_step(c.clock_step);
    hp->guard([&] { window_redraw(viewer.document_window, viewer.view); });
    EXPECT_TRUE(hp->timer_pending(kRedrawTimer));
    EXPECT_NE(frame(), whole);
    if (c.through_loop) {
      hp->set_clock_step(0);
      hp->set_input_waiting(false);
      hp->pump();  // the 0 ms timer fires and the redraw goes on where it stopped
    }
    for (int fired = 0; hp->timer_pending(kRedrawTimer) && fired < 100; ++fired) hp->fire_timer(kRedrawTimer);
    EXPECT_FALSE(hp->timer_pending(kRedrawTimer));
    // Every invalidated pixel is painted exactly as in one go.
    for (int32_t y = 0; y < 120; ++y)
      for (int32_t x = 0; x < 200; ++x) {
        const double wx = x / c.scale - c.origin, wy = y / c.scale - c.origin;
        bool invalid = false;
        for (int i = 0; i < c.areas; ++i) invalid |= wx >= c.x0 + i * c.step && wx < c.x0 + i * c.step + c.width;
        if (invalid && wy >= c.y0 && wy < c.y1) {
          ASSERT_EQ(frame()[y * 200 + x], whole[y * 200 + x]) << x << "," << y;
        }
      }
  }
}

TEST_F(Redraw, ScrollingRepaintsOnlyTheUncoveredStrips) {
  ASSERT_TRUE(start({}, 200, 150));
  show_made(400, 300, pattern);
  place(0, 0, 1.0);
  for (auto [dx, dy] : std::vector<std::pair<int, int>>{{10, 0}, {0, 7}, {-13, 5}, {3, -9}}) {
    hp->reset_painted();
    hp->guard([&] { window_scroll(viewer.document_window, viewer.view, dx, dy); });
    const int64_t strips = int64_t(std::abs(dx)) * 150 + int64_t(std::abs(dy)) * 200;
    // The uncovered strips, each grown by the one pixel the region conversion adds.
    EXPECT_LE(hp->painted_pixels(), strips + 2 * (200 + 150) + 4);
    EXPECT_GE(hp->painted_pixels(), strips - std::abs(dx * dy));
    const std::vector<uint32_t> scrolled = frame();
    hp->guard([&] { view_refresh(viewer); });
    EXPECT_EQ(scrolled, frame());
  }
  EXPECT_DOUBLE_EQ(view()->origin_x, 0 - 10 + 13 - 3);
  place(0, 0, 2.0);  // at scale 2 the origin moves by half the pixels
  hp->guard([&] { window_scroll(viewer.document_window, viewer.view, 10, 0); });
  EXPECT_DOUBLE_EQ(view()->origin_x, -5);
}

TEST_F(Redraw, FixedPaletteIsACubeThenGreys) {
  ASSERT_TRUE(start({}, 40, 30));
  const std::vector<uint32_t>& palette = hp->palette();
  ASSERT_EQ(palette.size(), 236u);
  // A 6 x 6 x 6 cube of steps of 48 from black to white, then greys.
  EXPECT_EQ((std::vector<uint32_t>{palette[0], palette[1 * 36 + 2 * 6 + 3], palette[215], palette[216]}),
            (std::vector<uint32_t>{0, 0x306090, 0xFFFFFF, 0x101010}));
}

}  // namespace
