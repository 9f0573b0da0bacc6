#include "httpd/file_response.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <clocale>
#include <optional>
#include <utility>

namespace quarno::httpd {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

std::string Describe(const RangePlan& plan) {
  switch (plan.verdict) {
    case RangeVerdict::kWhole:
      return "whole";
    case RangeVerdict::kUnsatisfiable:
      return "416";
    case RangeVerdict::kPartial:
      break;
  }
  std::string text;
  for (const ByteRange& r : plan.ranges) {
    text += (text.empty() ? "" : ",") + std::to_string(r.first) + "-" + std::to_string(r.last);
  }
  return text;
}

TEST(PlanRanges, SingleSuffixAndMultipleRanges) {
  EXPECT_EQ(Describe(PlanRanges("bytes=0-99", 1000)), "0-99");
  EXPECT_EQ(Describe(PlanRanges("bytes=990-", 1000)), "990-999");
  EXPECT_EQ(Describe(PlanRanges("bytes=990-5000", 1000)), "990-999");
  EXPECT_EQ(Describe(PlanRanges("bytes=-5", 1000)), "995-999");
  EXPECT_EQ(Describe(PlanRanges("bytes=-5000", 1000)), "0-999");
  EXPECT_EQ(Describe(PlanRanges("bytes=0-1, 10-19,-5", 1000)), "0-1,10-19,995-999");
  // Order as asked; an unsatisfiable piece among satisfiable ones is dropped.
  EXPECT_EQ(Describe(PlanRanges("bytes=500-599,0-9,2000-", 1000)), "500-599,0-9");
}

TEST(PlanRanges, WhatIsIgnoredAndWhatIsRefused) {
  for (const char* header : {"", "bytes=", "items=0-5", "bytes=500-100", "bytes=a-b", "bytes=5",
                             "bytes=0-1,x", "bytes=--5"}) {
    EXPECT_EQ(Describe(PlanRanges(header, 1000)), "whole") << header;
  }
  // Overlaps and floods are served whole rather than multiplied.
  EXPECT_EQ(Describe(PlanRanges("bytes=0-1,0-999,0-999", 1000)), "whole");
  std::string flood = "bytes=0-0";
  for (int i = 1; i < 40; ++i) flood += "," + std::to_string(2 * i) + "-" + std::to_string(2 * i);
  EXPECT_EQ(Describe(PlanRanges(flood, 1000)), "whole");
  for (const char* header : {"bytes=1000-", "bytes=5000-6000", "bytes=-0",
                             "bytes=9223372036854775807-", "bytes=99999999999999999999-"}) {
    EXPECT_EQ(Describe(PlanRanges(header, 1000)), "416") << header;
  }
  EXPECT_EQ(Describe(PlanRanges("bytes=0-", 0)), "416");
}

TEST(Validators, DatesAndEntityTags) {
  EXPECT_EQ(HttpDate(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"), 784111777);
  EXPECT_EQ(ParseHttpDate("Sunday, 06-Nov-94 08:49:37 GMT"), 784111777);
  EXPECT_EQ(ParseHttpDate("Sun Nov  6 08:49:37 1994"), 784111777);
  EXPECT_EQ(ParseHttpDate("yesterday"), std::nullopt);
  const std::pair<const char*, std::optional<std::int64_t>> forms[] = {
      {"  sun, 06 nov 1994 08:49:37 gmt ", 784111777},  // any case, padded
      {"Thursday, 01-Jan-70 00:00:00 GMT", 0},           // two-digit years from 1969
      {"Tuesday, 01-Jan-30 00:00:00 GMT", 1893456000},
      {"Sun, 06 Nov 1994 08:49:37", std::nullopt},
      {"Sun, 32 Nov 1994 08:49:37 GMT", std::nullopt},
      {"Sun, 06 Foo 1994 08:49:37 GMT", std::nullopt},
      {"Sun, 06 Nov 1994 24:00:00 GMT", std::nullopt},
  };
  for (const auto& [text, seconds] : forms) EXPECT_EQ(ParseHttpDate(text), seconds) << text;
}

// Qt sets the process's locale from the desktop's; dates on the wire stay
// English whatever it is.
TEST(Validators, DatesIgnoreTheLocale) {
  const char* korean = std::setlocale(LC_ALL, "ko_KR.UTF-8");
  if (!korean) GTEST_SKIP() << "no ko_KR.UTF-8 locale on this machine";
  EXPECT_EQ(HttpDate(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"), 784111777);
  std::setlocale(LC_ALL, "C");
}

TEST(Validators, EntityTags) {
  const std::string tag = EntityTag(12, 1000, 5);
  EXPECT_NE(tag, EntityTag(12, 1000, 6));
  EXPECT_TRUE(EtagListed(tag, tag));
  EXPECT_TRUE(EtagListed("\"x\", W/" + tag, tag));
  EXPECT_TRUE(EtagListed("*", tag));
  EXPECT_FALSE(EtagListed("\"x\"", tag));
}

TEST(FolderPage, EscapedSortedAndLinkedRelative) {
  std::vector<FolderEntry> entries = {
      {"b.txt", false, 12, 0},  {"<script>&\"'.txt", false, 3, 0},
      {"z-folder", true, 0, 0}, {"사진", true, 0, 0},
      {"a:b", false, 1, 0},
  };
  const std::string page = FolderPage("/httpstream/t/DISK_E/<x>/", entries);
  EXPECT_THAT(page, HasSubstr("<meta charset=\"utf-8\">"));
  EXPECT_THAT(page, HasSubstr("Index of /httpstream/t/DISK_E/&lt;x&gt;/"));
  EXPECT_THAT(page, Not(HasSubstr("<script>")));
  EXPECT_THAT(page, HasSubstr(">&lt;script&gt;&amp;&quot;&#39;.txt<"));
  EXPECT_THAT(page, HasSubstr("href=\"./%3Cscript%3E%26%22%27.txt\""));
  EXPECT_THAT(page, HasSubstr("href=\"./%EC%82%AC%EC%A7%84/\">사진/</a>"));
  EXPECT_THAT(page, HasSubstr("href=\"./a%3Ab\""));
  EXPECT_THAT(page, HasSubstr("<td>12</td>"));
  // Folders first, then names in byte order.
  const auto at = [&](const char* text) { return page.find(text); };
  EXPECT_LT(at(">z-folder/<"), at(">사진/<"));
  EXPECT_LT(at(">사진/<"), at(">&lt;script"));
  EXPECT_LT(at(">&lt;script"), at(">a:b<"));
  EXPECT_LT(at(">a:b<"), at(">b.txt<"));
}

}  // namespace
}  // namespace quarno::httpd
