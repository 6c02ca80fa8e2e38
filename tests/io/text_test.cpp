#include <gtest/gtest.h>

#include "core/errors.h"
#include "io/stream.h"
#include "io/text.h"
#include "support/test_support.h"

namespace {

class TextReaders : public ::testing::Test {
 protected:
  void SetUp() override { test_reset(); }
  void TearDown() override {
    if (stream_is_open()) stream_close();
  }
  uint32_t open(const std::string& text) {
    std::string path = write_temp_file("text.txt", text);
    EXPECT_EQ(stream_open(path.c_str(), 0), 0);
    return static_cast<uint32_t>(text.size());
  }
};

}  // namespace

TEST_F(TextReaders, NumbersSkipSignsAndKeepTwelveDigits) {
  uint32_t budget = open("  -12 34 123456789012345 7");
  EXPECT_EQ(text_read_number(&budget), 12);
  EXPECT_EQ(text_read_number(&budget), 34);
  EXPECT_EQ(text_read_number(&budget), 123456789012L);
  EXPECT_EQ(text_read_number(&budget), 7);  // the budget ends inside the number: kept
  EXPECT_EQ(budget, 0u);
  EXPECT_EQ(g_error, 0);
}

TEST_F(TextReaders, DigitsWithAndWithoutSeparators) {
  uint32_t budget = open("0 1\n01");
  std::vector<int> digits;
  for (int i = 0; i < 4; ++i) digits.push_back(text_read_digit(&budget));
  EXPECT_EQ(digits, (std::vector<int>{0, 1, 0, 1}));
}

TEST_F(TextReaders, TokensAndLines) {
  uint32_t budget = open("# comment here\n  width 12");
  char token[32];
  uint8_t after;
  auto read = [&](uint32_t size) {
    text_read_token(size, &budget, token, &after);
    return std::string(token) + "|" + char(after);
  };
  EXPECT_EQ(read(31), "#| ");
  text_skip_line(&budget);
  EXPECT_EQ(read(3), "wid| ");  // longer tokens are cut
  text_read_token(31, &budget, token, &after);
  EXPECT_STREQ(token, "12");
  EXPECT_EQ(budget, 0u);
}

TEST(MemoryReaders, WordsIntegersAndQuotes) {
  const char* text = "  word rest";
  const char* cursor = text;
  char out[16];
  str_read_word(4, &cursor, out);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(cursor, text + 2);  // left on the first letter
  str_read_word(5, &cursor, out);
  EXPECT_EQ(std::string(out) + "|" + *cursor, "word| ");

  const char* numbers = "ab 123 1234567890123456 x";
  cursor = numbers;
  EXPECT_EQ(str_read_int(&cursor), 123);
  EXPECT_EQ(str_read_int(&cursor), 0);  // 16 digits: refused, cursor at the run
  EXPECT_EQ(*cursor, '1');

  const char* quoted = "a \"bcd\" e";
  cursor = quoted;
  str_read_quoted(15, &cursor, out);
  EXPECT_EQ(std::string(out) + "|" + *cursor, "bcd| ");
  str_read_quoted(15, &cursor, out);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(*cursor, '\0');
}

TEST(CharClasses, Table) {
  const std::pair<uint8_t, int> table[] = {{'7', CHAR_DIGIT}, {'-', CHAR_SIGN},     {'.', CHAR_POINT},
                                          {'\r', CHAR_SPACE}, {',', CHAR_COMMA},     {';', CHAR_SEMICOLON},
                                          {'"', CHAR_QUOTE}};
  for (const auto& [c, kind] : table) EXPECT_EQ(char_class(c), kind) << c;
  for (int b = 128; b < 256; ++b) EXPECT_EQ(char_class(static_cast<uint8_t>(b)), CHAR_OTHER);
  EXPECT_EQ(char_class(0), CHAR_OTHER);
}
