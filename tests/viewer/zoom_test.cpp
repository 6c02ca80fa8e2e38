// Zoom, scroll, rotation and animation timing on the headless platform, with hand-made
// image records standing in for decoded files.
#include <gtest/gtest.h>

#include <cmath>

#include "core/errors.h"
#include "core/group.h"
#include "display/display.h"
#include "support/test_support.h"
#include "viewer/viewer.h"
#include "viewer/viewer_harness.h"

namespace {

class Zoom : public ViewerHarness {
 protected:
  // The world point shown at a window point.
  void world_at(double px, double py, double* wx, double* wy) {
    *wx = px / view()->scale_x - view()->origin_x;
    *wy = py / view()->scale_y - view()->origin_y;
  }
};

// A zoom given as a ratio snaps to the nearest step (the factors themselves are checked by
// the stepping below).
TEST_F(Zoom, RatiosSnapToTheNearestStep) {
  zoom_reset(viewer);
  const struct {
    double ratio;
    int32_t in_steps, out_steps;
  } rows[] = {{0.65, 0, 1}, {1.0, 0, 0}, {1.7, 1, 0}, {0.6, 0, 2}};  // 0.707 / 1 / 1.414 / 0.5
  for (const auto& row : rows) {
    zoom_snap(viewer, row.ratio);
    EXPECT_EQ(std::make_pair(viewer.zoom.zoom_in_steps, viewer.zoom.zoom_out_steps), std::make_pair(row.in_steps, row.out_steps)) << row.ratio;
  }
}

// Steps from the fit up to four and back down to the fit's limit (the last step each way is
// refused), about the window's centre for keys and about the pointer for double-clicks.
TEST_F(Zoom, StepsKeepThePointUnderTheCentreOrThePointer) {
  ASSERT_TRUE(start({}, 400, 300));
  show_made(800, 100);
  constexpr int32_t kLeftDouble = -1, kRightDouble = -2;
  const double r = std::sqrt(2.0);
  const struct {
    int32_t input;  // a key, or a double-click at (x, y)
    int32_t x, y;
    double scale;
  } rows[] = {
      // Keypad + and F1 in turn, then keypad - and F2 in turn, then double-clicks.
      {107, 200, 150, 1 / r}, {112, 200, 150, 1}, {107, 200, 150, r}, {112, 200, 150, 2}, {107, 200, 150, 2 * r},
      {112, 200, 150, 4}, {107, 200, 150, 4}, {113, 200, 150, 2 * r}, {109, 200, 150, 2}, {113, 200, 150, r},
      {109, 200, 150, 1}, {113, 200, 150, 1 / r}, {109, 200, 150, 0.5}, {113, 200, 150, 0.5},
      {kLeftDouble, 50, 60, 1 / r}, {kLeftDouble, 150, 20, 1}, {kRightDouble, 10, 140, 1 / r}};
  for (const auto& row : rows) {
    double wx, wy, nx, ny;
    world_at(row.x, row.y, &wx, &wy);
    if (row.input > 0) key(row.input);
    else hp->mouse(row.input == kLeftDouble ? MSG_LEFT_DOUBLE : MSG_RIGHT_DOUBLE, row.x, row.y);
    hp->pump();
    EXPECT_NEAR(view()->scale_x, row.scale, 1e-12) << row.input;
    world_at(row.x, row.y, &nx, &ny);
    EXPECT_NEAR(std::hypot(nx - wx, ny - wy), 0, 1e-9) << row.input;
  }
  key(114);  // F3: 1:1 centred
  EXPECT_DOUBLE_EQ(view()->scale_x, 1.0);
  EXPECT_DOUBLE_EQ(view()->origin_x, 200 - (-20 + 819) / 2.0);
  key(115);  // F4: fit
  EXPECT_DOUBLE_EQ(view()->scale_x, 0.5);
}

TEST_F(Zoom, ScrollKeysMoveByFivePixelsOrAPageWithinTheRanges) {
  ASSERT_TRUE(start({}, 200, 150));
  show_made(600, 800);
  key(114);  // 1:1
  const double ox = view()->origin_x, oy = view()->origin_y;
  const int32_t v = viewer.scroll.scroll_v, end = viewer.scroll.scroll_v_max - 150 + 1;
  const struct {
    int32_t key;
    double dx, dy;
    int32_t v;  // -1000: not checked
  } rows[] = {{40, 0, -5, -1000}, {38, 0, 0, -1000}, {39, -5, 0, -1000}, {37, 0, 0, -1000},
              {34, 0, 0, v + 150}, {35, 0, 0, end}, {40, 0, 0, end},  // Page Down, End, Down past the end
              {36, 0, 0, 0}, {33, 0, 0, -20}, {38, 0, 0, -20}};       // Home, Page Up to the margin, no further
  for (const auto& row : rows) {
    key(row.key);
    if (row.v != -1000) EXPECT_EQ(viewer.scroll.scroll_v, row.v) << row.key;
    else EXPECT_EQ(std::make_pair(view()->origin_x, view()->origin_y), std::make_pair(ox + row.dx, oy + row.dy)) << row.key;
  }
  hp->guard([&] { scroll_command(viewer, 14); });
  EXPECT_EQ(g_error, ERR_VALUE);
  g_error = 0;
}

TEST_F(Zoom, DraggingMovesThePictureWithThePointer) {
  ASSERT_TRUE(start({}, 200, 150));
  show_made(600, 400);
  key(114);
  const double ox = view()->origin_x, oy = view()->origin_y;
  const std::vector<uint32_t> before = frame();
  hp->mouse(MSG_LEFT_DOWN, 100, 100);
  hp->mouse(MSG_MOUSE_MOVE, 95, 98, true);  // superseded by the next move
  hp->mouse(MSG_MOUSE_MOVE, 90, 80, true);
  hp->pump();
  EXPECT_DOUBLE_EQ(view()->origin_x, ox - 10);
  EXPECT_DOUBLE_EQ(view()->origin_y, oy - 20);
  // The picture followed the pointer: what was at (100, 100) is now at (90, 80).
  EXPECT_EQ(at(90, 80), before[100 * 200 + 100]);
  hp->mouse(MSG_MOUSE_MOVE, 50, 50, false);  // button up: no drag
  hp->mouse(MSG_LEFT_UP, 50, 50);
  hp->pump();
  EXPECT_DOUBLE_EQ(view()->origin_x, ox - 10);
  // Nearest whole pixel, exact halves towards zero.
  const double top = -view()->origin_y;
  EXPECT_EQ(viewer.scroll.scroll_v, static_cast<int32_t>(top - std::floor(top) > 0.5 ? std::floor(top) + 1 : std::floor(top)));
}

// The fit is the exact ratio, between steps too, follows the window's size, never enlarges, and
// is centred on the scene (20 pixels around the image); zooming out stops at the fit.
struct Fit {
  int32_t window_w, window_h, image_w, image_h;
  double ratio;
  int32_t out_steps, out_limit;
  double after_zoom_out;
};

void PrintTo(const Fit& fit, std::ostream* out) {
  *out << fit.image_w << "x" << fit.image_h << " in " << fit.window_w << "x" << fit.window_h;
}

class Fits : public Zoom, public ::testing::WithParamInterface<Fit> {};

TEST_P(Fits, RatioAndOutLimitFollowTheWindow) {
  const Fit& fit = GetParam();
  ASSERT_TRUE(start({}, fit.window_w, fit.window_h));
  show_made(fit.image_w, fit.image_h);
  EXPECT_DOUBLE_EQ(viewer.zoom.fit_ratio, fit.ratio);
  EXPECT_DOUBLE_EQ(view()->scale_x, fit.ratio);
  EXPECT_EQ(std::make_pair(viewer.zoom.zoom_out_steps, viewer.zoom.zoom_out_limit), std::make_pair(fit.out_steps, fit.out_limit));
  EXPECT_DOUBLE_EQ(view()->origin_x, fit.window_w / (2 * fit.ratio) - (fit.image_w - 1) / 2.0);
  EXPECT_DOUBLE_EQ(view()->origin_y, fit.window_h / (2 * fit.ratio) - (fit.image_h - 1) / 2.0);
  key(KEY_END);  // the whole picture is shown: End and Home go to the same bound
  const int32_t after_end = viewer.scroll.scroll_v;
  key(KEY_HOME);
  EXPECT_EQ(std::make_pair(viewer.scroll.scroll_v, after_end), std::make_pair(after_end, viewer.scroll.scroll_v_max - viewer.scroll.page_v + 1));
  key(KEY_F2);
  EXPECT_DOUBLE_EQ(view()->scale_x, fit.after_zoom_out);
}

INSTANTIATE_TEST_SUITE_P(Viewer, Fits,
                         ::testing::Values(Fit{400, 300, 100, 50, 1.0, 0, 0, 1.0}, Fit{130, 200, 200, 100, 0.65, 1, 2, 0.5},
                                           Fit{200, 300, 800, 100, 0.25, 4, 4, 0.25}));

// F8 turns the shown picture clockwise and F7 back (every layout's turns are the image tests');
// a refused turn leaves it and queues an error display.
TEST_F(Zoom, RotationTurnsThePictureOrQueuesAnErrorDisplay) {
  ASSERT_TRUE(start({}, 100, 100));
  const std::vector<uint32_t> upright = image_rgb(show_made(8, 6));
  key(119);
  EXPECT_NE(title().find(" - 6 x 8 pixels - "), std::string::npos) << title();
  EXPECT_EQ(image_rgb(obj_get<ImageRecord>(TYPE_IMAGE, viewer.current_image))[0], upright[5 * 8]);  // bottom left to top left
  key(118);  // F7 turns it back
  ImageRecord* image = obj_get<ImageRecord>(TYPE_IMAGE, viewer.current_image);
  EXPECT_EQ(image_rgb(image), upright);
  image->pixel_bytes = 2;  // a layout rotation does not handle
  const std::string before = title();
  key(119);
  EXPECT_FALSE(hp->exited());
  EXPECT_EQ(title(), before);
  EXPECT_EQ(g_error, 0);
  Handle h = 0;
  ErrorDisplay* shown;
  group_find_next(viewer.next_group, TYPE_ERROR_DISPLAY, &h, &shown);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(shown->code, ERR_UNHANDLED);
  key(118);
  key(32);
  EXPECT_FALSE(hp->exited());
}

using Animation = ViewerHarness;

TEST_F(Animation, PlaysWithItsDelaysLoopsThreeTimesAndStopsOnTheLastFrame) {
  ASSERT_TRUE(start({"next.bmp"}));
  play_hand_made({10, 20, 30}, 3);
  uint64_t due = 0;
  EXPECT_TRUE(hp->timer_pending(kAnimationTimer, &due));
  EXPECT_EQ(std::make_pair(page(), due), std::make_pair(std::string("1/3"), uint64_t{100}));
  for (int pass = 0; pass < 3; ++pass) {
    if (pass > 0) {
      hp->advance(300);  // the last frame's delay, then the first frame again
      EXPECT_EQ(page(), "1/3") << pass;
    }
    hp->advance(100);
    EXPECT_EQ(page(), "2/3");
    hp->advance(200);
    EXPECT_EQ(page(), "3/3");
  }
  EXPECT_FALSE(hp->timer_pending(kAnimationTimer));
  hp->advance(5000);
  EXPECT_EQ(page(), "3/3");
  EXPECT_EQ(viewer.loop_count, 2);
}

TEST_F(Animation, LoopCountZeroPlaysForever) {
  ASSERT_TRUE(start({"next.bmp"}));
  play_hand_made({5, 5}, 0);
  for (int i = 0; i < 40; ++i) hp->advance(50);
  EXPECT_TRUE(hp->timer_pending(kAnimationTimer));
  EXPECT_EQ(viewer.loop_count, 20);
}

TEST_F(Animation, SpaceStepsByHandDuringTheFirstPassAndLeavesAfterIt) {
  ASSERT_TRUE(start({"shown.bmp", "next.bmp"}));  // one file alone would start over
  play_hand_made({10, 10, 10}, 0);
  key(32);
  EXPECT_EQ(page(), "2/3");
  EXPECT_TRUE(hp->timer_pending(kAnimationTimer));
  hp->advance(100);
  EXPECT_EQ(page(), "3/3");
  hp->advance(100);  // the first pass is over
  EXPECT_EQ(viewer.loop_count, 1);
  key(32);  // now Space moves on to the next file
  EXPECT_EQ(title(), path("next.bmp") + " : Fichier inconnu");
  hp->advance(1000);  // the animation's pending timer is no longer wanted
  EXPECT_EQ(title(), path("next.bmp") + " : Fichier inconnu");
  EXPECT_FALSE(hp->timer_pending(kAnimationTimer));
}

}  // namespace
