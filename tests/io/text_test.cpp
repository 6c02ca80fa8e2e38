// The bounds of the text readers that PNM headers and XPM values go through: numbers cut to
// twelve digits, budgets that end inside a token, over-long integers refused.
#include <gtest/gtest.h>

#include "core/errors.h"
#include "io/stream.h"
#include "io/text.h"
#include "support/test_support.h"

TEST(TextReaders, NumbersAndTokensStayInTheirBounds) {
  test_reset();
  const std::string text = "  -12 123456789012345 7 # comment\n  width 12";
  uint32_t budget = 23;  // ends inside the "7 " that follows the long number
  ASSERT_EQ(stream_open(write_temp_file("text.txt", text).c_str(), 0), 0);
  EXPECT_EQ(text_read_number(&budget), 12);  // the sign is skipped
  EXPECT_EQ(text_read_number(&budget), 123456789012L);  // twelve digits kept
  EXPECT_EQ(text_read_number(&budget), 7);
  EXPECT_EQ(budget, 0u);
  budget = uint32_t(text.size());
  char token[32];
  uint8_t after;
  text_skip_line(&budget);
  text_read_token(3, &budget, token, &after);  // longer tokens are cut
  EXPECT_EQ(std::string(token) + "|" + char(after), "wid| ");
  EXPECT_EQ(g_error, 0);
  stream_close();

  const char* numbers = "ab 123 1234567890123456 x";
  const char* cursor = numbers;
  EXPECT_EQ(str_read_int(&cursor), 123);
  EXPECT_EQ(str_read_int(&cursor), 0);  // 16 digits: refused, cursor at the run
  EXPECT_EQ(*cursor, '1');
  const char* quoted = "a \"bcd\" e";
  char out[16];
  cursor = quoted;
  str_read_quoted(15, &cursor, out);
  EXPECT_EQ(std::string(out) + "|" + *cursor, "bcd| ");
  str_read_quoted(15, &cursor, out);  // no more quotes: empty, at the end
  EXPECT_EQ(std::string(out) + "|" + (*cursor == '\0' ? "end" : cursor), "|end");
}
