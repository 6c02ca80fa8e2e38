// The bounds of the text readers that PNM headers and XPM values go through: numbers cut to
// twelve digits, data that ends inside a token, over-long integers refused.
#include <gtest/gtest.h>

#include "core/errors.h"
#include "io/byte_reader.h"
#include "io/text.h"
#include "support/test_support.h"

TEST(TextReaders, NumbersAndTokensStayInTheirBounds) {
  test_reset();
  const std::string text = "  -12 123456789012345 7 # comment\n  width 12";
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  PaddedBytes cut(bytes, 23);  // ends inside the "7 " that follows the long number
  ByteReader in = cut.reader();
  EXPECT_EQ(text_read_number(in), 12);  // the sign is skipped
  EXPECT_EQ(text_read_number(in), 123456789012L);  // twelve digits kept
  EXPECT_EQ(text_read_number(in), 7);
  EXPECT_EQ(text_read_digit(in), 0);  // nothing left
  PaddedBytes whole(bytes, static_cast<int64_t>(text.size()));
  in = whole.reader();
  char token[32];
  uint8_t after;
  text_skip_line(in);
  text_read_token(in, 3, token, &after);  // longer tokens are cut
  EXPECT_EQ(std::string(token) + "|" + char(after), "wid| ");
  text_read_token(in, 3, token, &after);  // ended by the data
  EXPECT_EQ(std::string(token) + "|" + std::to_string(after), "12|0");
  EXPECT_EQ(g_error, 0);

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
