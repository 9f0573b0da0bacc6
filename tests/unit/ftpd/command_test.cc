#include "ftpd/command.h"

#include <gtest/gtest.h>

namespace quarno::ftpd {
namespace {

TEST(Command, Lines) {
  Command c;
  ASSERT_EQ(ParseCommandLine("retr  my file.txt \r", c), ParseResult::kOk);
  EXPECT_EQ(c.verb, "RETR");
  EXPECT_EQ(c.arg, " my file.txt ");  // blanks belong to the name
  ASSERT_EQ(ParseCommandLine("\xff\xf4\xff\xf2" "ABOR", c), ParseResult::kOk);
  EXPECT_EQ(c.verb, "ABOR");
  ASSERT_EQ(ParseCommandLine("CWD \xff\xff", c), ParseResult::kOk);
  EXPECT_EQ(c.arg, "\xff");
  EXPECT_EQ(ParseCommandLine("", c), ParseResult::kEmpty);
  EXPECT_EQ(ParseCommandLine("   ", c), ParseResult::kEmpty);
  EXPECT_EQ(ParseCommandLine(std::string("RETR a\0b", 8), c), ParseResult::kNulByte);
  EXPECT_EQ(ParseCommandLine("RETRIEVE x", c), ParseResult::kBadVerb);
  EXPECT_EQ(ParseCommandLine("R1TR x", c), ParseResult::kBadVerb);
}

TEST(Command, PortAndEprt) {
  std::array<uint8_t, 4> ip{};
  uint16_t port = 0;
  ASSERT_TRUE(ParsePortArgument("127,0,0,1,4,1", ip, port));
  EXPECT_EQ(ip, (std::array<uint8_t, 4>{127, 0, 0, 1}));
  EXPECT_EQ(port, 1025);
  for (const char* bad : {"127,0,0,1,4", "127,0,0,1,4,1,9", "256,0,0,1,4,1", "a,0,0,1,4,1", "", "1,,0,1,4,1"})
    EXPECT_FALSE(ParsePortArgument(bad, ip, port)) << bad;

  int family = 0;
  std::string address;
  ASSERT_TRUE(ParseEprtArgument("|1|132.235.1.2|6275|", family, address, port));
  EXPECT_EQ(family, 1);
  EXPECT_EQ(address, "132.235.1.2");
  EXPECT_EQ(port, 6275);
  ASSERT_TRUE(ParseEprtArgument("!2!::1!2000!", family, address, port));
  EXPECT_EQ(family, 2);
  EXPECT_EQ(address, "::1");
  for (const char* bad : {"|3|1.2.3.4|5|", "|1|1.2.3.4|70000|", "|1||5|", "|1|1.2.3.4|5", "1|1.2.3.4|5|", "|1|a|b|c|"})
    EXPECT_FALSE(ParseEprtArgument(bad, family, address, port)) << bad;
}

}  // namespace
}  // namespace quarno::ftpd
