#include <gtest/gtest.h>

#include "ftpctl/general_option.h"

namespace quarno::ftpctl {
namespace {

TEST(GeneralOption, TableShape) {
  int strings = 0, locals = 0;
  for (int i = 1; i <= kOptionCount; ++i) {
    strings += OptionDefinition(i)->type == OptionType::kString;
    locals += OptionDefinition(i)->local;
  }
  EXPECT_EQ(strings, 17);
  EXPECT_EQ(locals, 6);
  EXPECT_EQ(OptionDefinition(0), nullptr);
  EXPECT_EQ(OptionDefinition(63), nullptr);
  EXPECT_STREQ(OptionDefinition(OPTION_WELCOMEMESSAGE)->name, "Initial Welcome Message");
  EXPECT_EQ(OptionNumber("Admin port"), OPTION_ADMINPORT);
  EXPECT_EQ(OptionNumber("Disable IPv6"), 62);
}

TEST(GeneralOption, EmptySetIs479Bytes) {
  auto bytes = CGeneralOption().Serialize();
  ASSERT_TRUE(bytes);
  ASSERT_EQ(bytes->size(), 479u);
  const auto& b = *bytes;
  EXPECT_EQ(b[0], 0x00);
  EXPECT_EQ(b[1], 0x3E);
  // Option 1 (string, empty), option 2 (numeric 0).
  EXPECT_EQ(std::vector<uint8_t>(b.begin() + 2, b.begin() + 15),
            (std::vector<uint8_t>{0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(std::vector<uint8_t>(b.end() - 4, b.end()), std::vector<uint8_t>(4, 0));
}

TEST(GeneralOption, ValuesOnTheWire) {
  CGeneralOption o;
  o.SetText(OPTION_SERVERPORT, "2121");
  o.SetNumber(OPTION_THREADNUM, 0x0102030405060708LL);
  auto b = *o.Serialize();
  EXPECT_EQ(std::vector<uint8_t>(b.begin() + 2, b.begin() + 19),
            (std::vector<uint8_t>{0, 0, 0, 4, '2', '1', '2', '1', 1, 8, 7, 6, 5, 4, 3, 2, 1}));
  o.SetText(OPTION_SERVERPORT, "\xff");
  EXPECT_EQ(o.Serialize()->size(), 479u);  // not UTF-8: sent empty
  o.SetText(OPTION_WELCOMEMESSAGE, std::string(0x1000000, 'x'));
  EXPECT_FALSE(o.Serialize());
}

TEST(GeneralOption, RoundTripIgnoresTrailingBytes) {
  CGeneralOption o;
  o.SetText(OPTION_SERVERPORT, "21");
  o.SetText(OPTION_WELCOMEMESSAGE, "환영 && Host 12ABCD");
  o.SetNumber(OPTION_TIMEOUT, 300);
  o.SetNumber(OPTION_ADMINPORT, -1);
  auto b = *o.Serialize();
  CGeneralOption parsed;
  ASSERT_TRUE(parsed.Parse(b.data(), b.size()));
  EXPECT_EQ(parsed.Text(OPTION_WELCOMEMESSAGE), "환영 && Host 12ABCD");
  EXPECT_EQ(parsed.Number(OPTION_TIMEOUT), 300);
  EXPECT_EQ(parsed.Number(OPTION_ADMINPORT), -1);
  EXPECT_EQ(*parsed.Serialize(), b);
  // Without the 4 closing bytes it still parses.
  ASSERT_TRUE(parsed.Parse(b.data(), b.size() - 4));

  // A text that is not UTF-8 is read as CP949 (0xB0 0xA1 is "가").
  std::vector<uint8_t> cp949 = *CGeneralOption().Serialize();
  cp949[5] = 2;
  cp949.insert(cp949.begin() + 6, {0xB0, 0xA1});
  ASSERT_TRUE(parsed.Parse(cp949.data(), cp949.size()));
  EXPECT_EQ(parsed.Text(OPTION_SERVERPORT), "가");
}

TEST(GeneralOption, BadPayloadLeavesTheSetUnchanged) {
  CGeneralOption good;
  good.SetNumber(OPTION_TIMEOUT, 300);
  auto b = *good.Serialize();
  CGeneralOption target;
  target.SetText(OPTION_SERVERPORT, "keep");

  auto wrong_count = b;
  wrong_count[1] = 61;
  EXPECT_FALSE(target.Parse(wrong_count.data(), wrong_count.size()));
  auto bad_type = b;
  bad_type[2] = 2;
  EXPECT_FALSE(target.Parse(bad_type.data(), bad_type.size()));
  EXPECT_FALSE(target.Parse(b.data(), b.size() - 5));  // last option cut
  auto huge_text = b;
  huge_text[3] = 0xFF;  // option 1 claims 16 MB
  EXPECT_FALSE(target.Parse(huge_text.data(), huge_text.size()));
  EXPECT_FALSE(target.Parse(nullptr, 0));
  EXPECT_EQ(target.Text(OPTION_SERVERPORT), "keep");
  EXPECT_EQ(target.Number(OPTION_TIMEOUT), 0);
}

TEST(GeneralOption, TypeComesFromTheWire) {
  auto b = *CGeneralOption().Serialize();
  // Send option 1 as numeric: replace its 4-byte empty string with 9 bytes.
  std::vector<uint8_t> w(b.begin(), b.begin() + 2);
  w.insert(w.end(), {1, 21, 0, 0, 0, 0, 0, 0, 0});
  w.insert(w.end(), b.begin() + 6, b.end());
  CGeneralOption o;
  ASSERT_TRUE(o.Parse(w.data(), w.size()));
  EXPECT_EQ(o.Type(OPTION_SERVERPORT), OptionType::kNumeric);
  EXPECT_EQ(o.Number(OPTION_SERVERPORT), 21);
}

}  // namespace
}  // namespace quarno::ftpctl
