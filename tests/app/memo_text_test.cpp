// The memo's text and its lines, as a list of lines sees them.
#include "app/memo_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace resicrypt {
namespace {

TEST(MemoText, LinesEndAtCrLfAndAFinalCrLfOpensNoLine) {
  const struct {
    const char* text;
    std::vector<std::string> lines;
  } kCases[] = {
      {"", {}},
      {"\r\n", {""}},
      {"one", {"one"}},
      {"one\r\n", {"one"}},
      {"one\r\n\r\nthree\r\n", {"one", "", "three"}},
      {"a\r\nb", {"a", "b"}},
      {"a\rb\nc\r\n", {"a\rb\nc"}},  // a lone CR or LF ends no line
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(MemoTextLines(c.text), c.lines);
  }
  EXPECT_EQ(MemoText({"x", "", "y"}), "x\r\n\r\ny\r\n");
  EXPECT_EQ(MemoText({}), "");
}

TEST(MemoText, AnAppendedLineStartsOnALineOfItsOwn) {
  EXPECT_EQ(MemoTextAddition("", "c"), "c\r\n");
  EXPECT_EQ(MemoTextAddition("a\r\n", "c"), "c\r\n");
  EXPECT_EQ(MemoTextAddition("a\r\nb", "c"), "\r\nc");  // typed without a final break
  EXPECT_EQ(MemoTextAddition("a\r", "c"), "\r\nc");
}

}  // namespace
}  // namespace resicrypt
