#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace quarno::platform {
namespace {

TEST(Codepage, KoreanRoundTripsThroughCp949) {
  const std::string utf8 = "한글 폴더/사진 2012.jpg";
  std::string cp949;
  ASSERT_TRUE(Utf8ToCp949(utf8, cp949));
  EXPECT_EQ(cp949.substr(0, 4), "\xC7\xD1\xB1\xDB");  // 한글 in EUC-KR
  std::string back;
  ASSERT_TRUE(Cp949ToUtf8(cp949, back));
  EXPECT_EQ(back, utf8);
  // CP949 goes beyond EUC-KR: 똠 is one of its extension syllables.
  ASSERT_TRUE(Utf8ToCp949("똠", cp949));
  ASSERT_TRUE(Cp949ToUtf8(cp949, back));
  EXPECT_EQ(back, "똠");
  ASSERT_TRUE(Utf8ToCp949("", cp949));
  EXPECT_EQ(cp949, "");
}

TEST(Codepage, InvalidInputIsRejectedAndOutputUntouched) {
  std::string out = "unchanged";
  EXPECT_FALSE(Utf8ToCp949("\xC0\xAF", out));          // overlong '/'
  EXPECT_FALSE(Utf8ToCp949("abc\xED\xA0\x80", out));   // surrogate
  EXPECT_FALSE(Utf8ToCp949("\xEA\xB0", out));          // cut-off sequence
  EXPECT_FALSE(Utf8ToCp949("\xF0\x9F\x98\x80", out));  // emoji: no CP949 form
  EXPECT_FALSE(Cp949ToUtf8("\xC7", out));              // lone lead byte
  EXPECT_FALSE(Cp949ToUtf8("\xFF\xFF", out));
  EXPECT_EQ(out, "unchanged");
}

TEST(Codepage, Utf8Validation) {
  EXPECT_TRUE(IsValidUtf8("plain ascii"));
  EXPECT_TRUE(IsValidUtf8("한글 \xF0\x9F\x98\x80"));
  EXPECT_FALSE(IsValidUtf8("\x80"));
  EXPECT_FALSE(IsValidUtf8("\xE0\x80\x80"));      // overlong
  EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(IsValidUtf8("\xC7\xD1"));          // CP949 bytes are not UTF-8
}

}  // namespace
}  // namespace quarno::platform
