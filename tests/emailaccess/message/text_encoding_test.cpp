// Character-set decisions on texts that hold NUL bytes. U+0000 is valid
// UTF-8; a NUL must not tip a UTF-8 text over into being read as
// Windows-1252 (which would garble every non-ASCII letter in it).

#include "emailaccess/message/text_encoding.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

TEST(IsValidUtf8, NulBytesAreValidAndDoNotHideBrokenSequences) {
  struct Case {
    std::string text;
    bool valid;
  };
  const Case cases[] = {
      {"\0"s, true},
      {"a\0b"s, true},
      {"Gr\xC3\xBC\xC3\x9F" "e\0"s, true},
      {"\0\0\xE2\x82\xAC\0"s, true},
      {"\xC3\0\xBC"s, false},  // a sequence cut by the NUL
      {"ok\0\xFF"s, false},
      {"\xFF\0ok"s, false},
      // Past the first eight bytes, and across their end.
      {"abcdefgh\xFF"s, false},
      {"abcdefg\xC3\xBC and more text"s, true},
      {"abcdefghijklmno\xC3"s, false},
      {"12345678\0\xE2\x82\xAC"s, true},
      {"12345678\0\xE2\x82"s, false},
  };
  for (const Case& c : cases) EXPECT_EQ(emailaccess::IsValidUtf8(c.text), c.valid) << testing::PrintToString(c.text);
}

TEST(Utf8OrWindows1252, Utf8TextWithANulByteStaysAsItIs) {
  const std::string text = "Gr\xC3\xBC\xC3\x9F" "e\0und mehr"s;
  EXPECT_EQ(emailaccess::Utf8OrWindows1252(text), text);
  EXPECT_EQ(emailaccess::CharsetToUtf8(text, "iso-8859-1"), text);
  EXPECT_EQ(emailaccess::CharsetToUtf8(text, ""), text);
  // Windows-1252 with a NUL is still converted, the NUL kept in its place.
  EXPECT_EQ(emailaccess::Utf8OrWindows1252("Gr\xFC\0"s), "Gr\xC3\xBC\0"s);
}

}  // namespace
