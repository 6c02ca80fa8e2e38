// The viewer over real files, made by the tests or with the reference tools.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include "core/group.h"
#include "support/test_support.h"
#include "viewer/viewer.h"
#include "viewer/viewer_harness.h"

namespace {

uint32_t marker(int32_t x, int32_t y) { return x == 0 && y == 0 ? 0x00FF00u : 0x0000FFu; }

class DecodedFiles : public ViewerHarness {};

TEST_F(DecodedFiles, TwoFilesPrefetchSwapAndWrapAround) {
  write("a.bmp", bmp24(8, 8, gradient));
  write("b.bmp", bmp24(9, 7, gradient));
  ASSERT_TRUE(start({"a.bmp", "b.bmp"}));
  int32_t waiting = 0;
  group_count(viewer.next_group, TYPE_IMAGE, &waiting);
  EXPECT_EQ(waiting, 1);  // b is loaded while a is shown
  for (const auto& [name, size] : {std::pair("a.bmp", "8 x 8"), std::pair("b.bmp", "9 x 7"), std::pair("a.bmp", "8 x 8")}) {
    EXPECT_EQ(title(), path(name) + " - " + size + " pixels - 1 x 24 bits - BMP non compresse");
    key(32);
  }
}

TEST_F(DecodedFiles, PlaceholdersAreShownAtOneToOneTwentyPixelsFromTheCorner) {
  write("err.bmp", bmp24(6, 5, marker));
  write("unk.bmp", bmp24(6, 5, [](int32_t, int32_t) { return 0xFF00FFu; }));
  write("words.txt", {'w', 'o', 'r', 'd', 's'});
  error_placeholder = "err.bmp";
  unknown_placeholder = "unk.bmp";
  ASSERT_TRUE(start({"missing.bmp", "words.txt"}, 200, 150));
  EXPECT_EQ(title(), path("missing.bmp") + " : Fichier inconnu");
  EXPECT_EQ((std::vector<uint32_t>{at(19, 20), at(20, 20), at(21, 20), at(26, 20)}),
            (std::vector<uint32_t>{0xFFFFFF, 0x00FF00, 0x0000FF, 0xFFFFFF}));
  key(32);
  EXPECT_EQ(title(), path("words.txt") + " : Format inconnu");
  EXPECT_EQ(at(20, 20), 0xFF00FFu);
}

// The pages step by Space; going round them within the only file listed never reads it again.
TEST_F(DecodedFiles, ThreePageTiffCountsItsPagesAndWrapsWithoutRereading) {
  const std::string tif = path("pages.tif");
  ASSERT_EQ(run_command("convert -size 7x5 xc:red xc:lime xc:blue -depth 8 -compress none '" + tif + "'"), 0);
  const int opens = inotify_init1(IN_NONBLOCK);
  inotify_add_watch(opens, tif.c_str(), IN_OPEN);
  ASSERT_TRUE(start({"pages.tif"}));
  char events[4096];
  while (read(opens, events, sizeof events) > 0) {
  }
  for (const char* expected : {"1/3", "2/3", "3/3", "1/3", "2/3", "3/3", "1/3"}) {
    EXPECT_EQ(page(), expected);
    EXPECT_FALSE(hp->timer_pending(kAnimationTimer));
    key(32);
  }
  EXPECT_LT(read(opens, events, sizeof events), 0) << "the file was read again";
  close(opens);
}

}  // namespace
