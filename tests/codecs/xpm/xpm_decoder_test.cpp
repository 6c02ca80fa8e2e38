#include <gtest/gtest.h>

#include "codecs/raster_test_support.h"

namespace {

std::string xpm(const std::string& body) { return "/* XPM */\nstatic char * picture[] = {\n" + body; }

}  // namespace

using Xpm = RasterTest;

TEST_F(Xpm, GeneratedPicturesMatchTheirReferences) { EXPECT_GE(check_generated_cases("xpm_"), 5); }

TEST_F(Xpm, ColourKeysAndRows) {
  expect_decoded(-1, {
      // "c" outranks "s"; a colour name is not looked up; 12 and 3-digit hex forms; keys of two
      // characters, one of them a space; a key not in the table leaves the pixel at 0.
      {"keys.xpm",
       xpm("\"6 1 5 2\",\n\"a  s red c #00FF00\",\n\"b  c red\",\n\" x c #FFFF80800000\",\n"
           "\"dd g #123 c #abc\",\n\"ee m #010203\",\n\"a b  xddzzee\"\n};"),
       {0x00FF00, 0, 0xFF8000, 0xAABBCC, 0x00FF00, 0x010203}, {0, 1, 2, 3, 0, 4}, " - 6 x 1 pixels - 1 x 8 bits - XPixmap"},
      // Three characters a pixel; comments inside the braces; strings past the last row are
      // ignored; a short row leaves the rest of its pixels at 0.
      {"long_keys.xpm",
       xpm("/* values */ \"3 2 2 3 0 0\",\n/* colours */\n\"aaa c #000010\",\n\"bbb c #000020\",\n"
           "\"bbbaaabbb\",\n\"aaabbb\",\n\"bbbbbbbbb\"\n};"),
       {0x20, 0x10, 0x20, 0x10, 0x20, 0x10}, {1, 0, 1, 0, 0, 1, 0}},
      // The strings on the line after the brace (glued to it, they are refused: below).
      {"one_line.xpm", "/* XPM */ static char *x[] = {\n\"1 1 1 1\", \"a c #010101\", \"a\"};", {0x010101}},
  });
}

// The body after the declaration, or (for the last ones) the whole file.
TEST_F(Xpm, Refusals) {
  expect_refusals(-1, {
      {"no_end.xpm", xpm("\"1 1 1 1\",\n\"a c #000000\",\n\"a\"\n"), 2},
      {"zero_colours.xpm", xpm("\"1 1 0 1\",\n\"a\"\n};"), 7},
      {"numbers.xpm", xpm("0x01, 0x02 };"), 14},
      {"empty_values.xpm", xpm("\"\"};"), 14},
      {"values_with_comma.xpm", xpm("\"1,1 1 1\"};"), 14},
      {"zero_chars.xpm", xpm("\"1 1 1 0\",\n\"a c #000000\"\n};"), 14},
      {"zero_width.xpm", xpm("\"0 1 1 1\"\n};"), 14},
      {"two_pictures.xpm", xpm("\"1 1 1 1\",\n\"a c #000000\",\n\"a\",\n{\"1 1 1 1\"};"), 14},
      {"huge.xpm", xpm("\"60000 60000 1 1\",\n\"a c #000000\"\n};"), 14},
      {"brace_glued.xpm", "/* XPM */ static char *x[] ={\n\"1 1 1 1\", \"a c #010101\", \"a\"};", 14},
      {"string_before_values.xpm", "/* XPM */ \"a c #000000\", static char *x[] = {\"1 1 1 1\"};", 7},
      {"no_picture.xpm", "/* XPM */ };", 14},
  });
}
