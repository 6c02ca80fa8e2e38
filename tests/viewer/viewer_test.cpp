// The viewer end to end on the headless platform: start-up, titles, sequencing over the file
// list, drops, delete, keys and the fatal start-up path.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>

#include "core/errors.h"
#include "core/group.h"
#include "core/memory.h"
#include "display/display.h"
#include "image/file_descriptor.h"
#include "support/test_support.h"
#include "viewer/file_list.h"
#include "viewer/viewer.h"
#include "viewer/viewer_harness.h"

namespace {

bool all_white(const std::vector<uint32_t>& pixels) {
  return std::all_of(pixels.begin(), pixels.end(), [](uint32_t p) { return p == 0xFFFFFFu; });
}

class Startup : public ViewerHarness {};

TEST_F(Startup, NoNamesShowsTheProgramTitleAndNothingElse) {
  ASSERT_TRUE(start({}));
  EXPECT_EQ(title(), "Korvela v2.0.3");
  EXPECT_TRUE(all_white(frame()));
  EXPECT_FALSE(hp->timer_pending(kAnimationTimer));
  key(KEY_SPACE);  // no file, nothing happens
  EXPECT_EQ(title(), "Korvela v2.0.3");
  EXPECT_EQ(hp->focus(), hp->main_window());
  // Missing placeholders are logged and otherwise ignored.
  EXPECT_NE(log_text().find("Impossible de charger l'image erreur.png"), std::string::npos);
  EXPECT_NE(log_text().find("Impossible de charger l'image inconnu.png"), std::string::npos);
}

TEST_F(Startup, FileTooLargeForTheMemoryIsAMemoryProblem) {
  write("big.bmp", bmp24(4, 4, gradient));
  viewer.memory_probe = [] { return uint64_t{10000000}; };
  ASSERT_TRUE(start({"big.bmp"}));
  EXPECT_EQ(title(), path("big.bmp") + " : Probleme memoire");
}

TEST_F(Startup, EmptyTreeHasNoImage) {
  for (const char* folder : {"tree", "tree/sub", "tree/sub/deeper"}) mkdir(path(folder).c_str(), 0755);
  ASSERT_TRUE(start({"tree"}));
  EXPECT_EQ(title(), "Aucune image dans le repertoire");
}

TEST_F(Startup, UnknownFilesOfAWalkAreDroppedSilently) {
  for (const char* folder : {"tree", "tree/sub"}) mkdir(path(folder).c_str(), 0755);
  for (const char* name : {"tree/a.txt", "tree/sub/b.txt"}) write(name, {'t', 'x', 't'});
  ASSERT_TRUE(start({"tree", "named.txt"}));
  // named.txt does not exist; the walked text files never reach the title.
  EXPECT_EQ(title(), path("named.txt") + " : Fichier inconnu");
  key(32);
  EXPECT_EQ(title(), path("named.txt") + " : Fichier inconnu");
  // The dropped entries are released with their path texts, not only unlisted.
  int32_t left = 0, texts = 0;
  group_count(viewer.file_list, TYPE_FILE_DESCRIPTOR, &left);
  group_count(viewer.file_list, TYPE_GROUP, &texts);
  EXPECT_EQ(std::make_pair(left, texts), std::make_pair(1, 1));
  EXPECT_EQ(live_objects(TYPE_FILE_DESCRIPTOR), 1);
}

// The viewer's end releases what start-up and a session made (display lists, palette, canvas,
// extents, groups): a second session in the same process holds no more blocks than the first.
TEST_F(Startup, EndingTheViewerReleasesWhatItMade) {
  write("a.bmp", bmp24(30, 20, gradient));
  write("b.bmp", bmp24(12, 40, gradient));
  use_real_placeholders();
  size_t held[2];
  for (size_t& blocks : held) {
    ASSERT_TRUE(start({"a.bmp", "b.bmp", "missing.bmp"}));
    for (int32_t k : {KEY_F1, KEY_SPACE, KEY_F7, KEY_DOWN, KEY_SPACE, KEY_SPACE}) key(k);
    viewer_end(viewer);
    test_reset();
    blocks = mem_blocks_held();
  }
  EXPECT_EQ(held[1], held[0]);
}

TEST_F(Startup, FatalErrorShowsTheBoxLogsTheCodeAndExitsOne) {
  hp = std::make_unique<HeadlessPlatform>(320, 200);
  hp->set_window_creation_fails(true);
  EXPECT_FALSE(start({}));
  EXPECT_TRUE(hp->exited());
  EXPECT_EQ(hp->exit_code(), 1);
  ASSERT_EQ(hp->message_boxes().size(), 1u);
  EXPECT_EQ(hp->message_boxes()[0],
            "Erreur lors de l'initialisation\nErreur lors de l'initialisation\nFin de l'application");
  EXPECT_NE(log_text().find("Erreur d'init : 11"), std::string::npos);
}

TEST_F(Startup, CloseEndsTheProgramAndFocusStaysWithTheMainWindow) {
  ASSERT_TRUE(start({"a.bmp"}));
  Message m;
  m.kind = MSG_SET_FOCUS;
  m.window = hp->document_window();
  hp->post(m);
  hp->pump();
  EXPECT_EQ(hp->focus(), hp->main_window());
  m.kind = MSG_CLOSE;
  m.window = hp->main_window();
  hp->post(m);
  EXPECT_FALSE(hp->pump());
  EXPECT_EQ(hp->exit_code(), 0);
}

TEST_F(Startup, CommandLineOfWindowsIsSplitIntoNames) {
  EXPECT_EQ(command_line_names("a.bmp \"my pics/b c.bmp\"  d.gif"),
            (std::vector<std::string>{"a.bmp", "my pics/b c.bmp", "d.gif"}));
  // White space after the last name gives one more, empty name.
  EXPECT_EQ(command_line_names("a.bmp "), (std::vector<std::string>{"a.bmp", ""}));
  EXPECT_TRUE(command_line_names("").empty());
  EXPECT_EQ(command_line_names(std::string(300, 'x').append(" ok").c_str()), (std::vector<std::string>{"ok"}));
}

// Titles along key sequences over missing and unknown files: the list is circular, the next
// file waits in advance, drops come next in reverse order, Delete takes the shown file out,
// F12 shows the program's title until the next image.
struct KeySequence {
  std::vector<std::string> names;
  std::vector<std::pair<int32_t, std::string>> steps;  // key (0: none, -1: drop x, y, z), name shown
};

class Sequences : public ViewerHarness, public ::testing::WithParamInterface<KeySequence> {};

TEST_P(Sequences, TitlesAlongTheKeys) {
  write("notes.txt", {'w', 'o', 'r', 'd', 's'});
  ASSERT_TRUE(start(GetParam().names));
  for (const auto& [code, name] : GetParam().steps) {
    if (code == -1) hp->drop({path("x.bmp"), path("y.bmp"), path("z.bmp")});
    if (code > 0) key(code);
    hp->pump();
    const std::string text = name == "notes.txt" ? " : Format inconnu" : " : Fichier inconnu";
    EXPECT_EQ(title(), name.empty() ? std::string(kProgramTitle) : path(name) + text) << code << " " << name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Viewer, Sequences,
    ::testing::Values(
        KeySequence{{"gone.bmp", "notes.txt"}, {{0, "gone.bmp"}, {32, "notes.txt"}, {32, "gone.bmp"}}},
        KeySequence{{"a.bmp", "b.bmp"}, {{0, "a.bmp"}, {32, "b.bmp"}, {32, "a.bmp"}, {32, "b.bmp"}, {123, ""}, {32, "a.bmp"}}},
        KeySequence{{"first.bmp"}, {{-1, "z.bmp"}, {32, "y.bmp"}, {32, "x.bmp"}, {32, "first.bmp"}}},
        KeySequence{{"a.bmp", "b.bmp", "c.bmp"}, {{32, "b.bmp"}, {46, "c.bmp"}, {32, "a.bmp"}, {32, "c.bmp"}}},
        KeySequence{{"a.bmp", "b.bmp"}, {{46, "b.bmp"}, {32, "b.bmp"}}}));  // one file: Space does nothing

// One file of one picture: Space leaves it as it is shown, zoomed in.
TEST_F(Startup, AOnePictureFileStaysAsShownOnSpace) {
  write("a.bmp", bmp24(8, 8, gradient));
  ASSERT_TRUE(start({"a.bmp"}));
  key(KEY_F1);
  key(KEY_SPACE);
  EXPECT_DOUBLE_EQ(view()->scale_x, std::sqrt(2.0));
}

TEST_F(Startup, DeletingTheOnlyFileEmptiesTheDisplay) {
  ASSERT_TRUE(start({"only.bmp"}));
  key(46);
  int32_t members = 0;
  group_count(viewer.current_group, 0, &members);
  EXPECT_EQ(members, 0);
  key(32);
  EXPECT_EQ(viewer.current_image, 0u);
  EXPECT_TRUE(all_white(frame()));
  key(46);  // nothing left to delete
  EXPECT_FALSE(hp->exited());
}

}  // namespace
