// Reading the answers: Content-length rule, body extraction, answer fields.
#include <gtest/gtest.h>

#include "ddns/ddns_manager.h"

namespace quarno {
namespace {

TEST(RemainingContentLength, CountsBodyBytesMissingFromTheFirstChunk) {
  // Header 38 bytes + blank line; 4 body bytes announced.
  EXPECT_EQ(RemainingContentLength("HTTP/1.1 200 OK\r\nContent-length: 4\r\n\r\n"), 4);
  EXPECT_EQ(RemainingContentLength("HTTP/1.1 200 OK\r\nContent-length: 4\r\n\r\n8.3"), 1);
  EXPECT_EQ(RemainingContentLength("HTTP/1.1 200 OK\r\nContent-length: 4\r\n\r\n8.34"), 0);
  EXPECT_EQ(RemainingContentLength("HTTP/1.1 200 OK\r\nCONTENT-LENGTH:4\r\n\r\n"), 4);
  // More than announced: negative, nothing further is read.
  EXPECT_LT(RemainingContentLength("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nabc"), 0);
}

TEST(RemainingContentLength, AbsentOrUnusableHeaderMeansNoFurtherReads) {
  EXPECT_EQ(RemainingContentLength(""), -1);
  EXPECT_EQ(RemainingContentLength("HTTP/1.1 200 OK\r\n\r\nbody"), -1);
  EXPECT_EQ(RemainingContentLength("HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n"), -1);
  EXPECT_EQ(RemainingContentLength("HTTP/1.1 200 OK\r\nContent-Length: 99999999999\r\n\r\n"), -1);
  EXPECT_EQ(RemainingContentLength("HTTP/1.1 200 OK\r\nContent-Length: 12x\r\n\r\n"), -1);
  EXPECT_EQ(RemainingContentLength("HTTP/1.1 200 OK\r\nContent-Length:"), -1);
  // "X-Content-length" is another header.
  EXPECT_EQ(RemainingContentLength("HTTP/1.1 200 OK\r\nX-Content-length: 9\r\n\r\n"), -1);
}

TEST(RemainingContentLength, HeaderNotYetEndedCountsFromMinusOne) {
  // Without a blank line the offset is -1: L + (-1) + 4 - n.
  const std::string chunk = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n";
  EXPECT_EQ(RemainingContentLength(chunk), 10 - 1 + 4 - static_cast<long long>(chunk.size()));
}

TEST(ExtractBody, TrimmedLowerCaseTextBetweenTheMarkers) {
  EXPECT_EQ(CDDNS_Manager::ExtractBody("HTTP/1.1 200 OK\r\n\r\n<HTML><BODY>\r\n  good;1;1 \n"
                                       "</BODY></HTML>"),
            "good;1;1");
  EXPECT_EQ(CDDNS_Manager::ExtractBody("<body>OK</body>"), "ok");
  EXPECT_EQ(CDDNS_Manager::ExtractBody("HTTP/1.1 200 OK\r\n\r\n<html>null</html>"), "");
  EXPECT_EQ(CDDNS_Manager::ExtractBody("<body>no end"), "");
  EXPECT_EQ(CDDNS_Manager::ExtractBody("</body> backwards <body>"), "");
  EXPECT_EQ(CDDNS_Manager::ExtractBody("<body></body>"), "");
}

TEST(RegisterAnswer, Classification) {
  EXPECT_EQ(ClassifyRegisterAnswer("good;1;1"), RegisterVerdict::kComplete);
  EXPECT_EQ(ClassifyRegisterAnswer("good;2121;8080"), RegisterVerdict::kComplete);
  EXPECT_EQ(ClassifyRegisterAnswer("good;0;1"), RegisterVerdict::kIncomplete);
  EXPECT_EQ(ClassifyRegisterAnswer("good;1;0"), RegisterVerdict::kIncomplete);
  EXPECT_EQ(ClassifyRegisterAnswer("good"), RegisterVerdict::kIncomplete);
  // Runs of separators count as one; a missing third field is not "0".
  EXPECT_EQ(ClassifyRegisterAnswer(";;good;;21"), RegisterVerdict::kComplete);
  EXPECT_EQ(ClassifyRegisterAnswer("good;21"), RegisterVerdict::kComplete);
  EXPECT_EQ(ClassifyRegisterAnswer("good;;0"), RegisterVerdict::kIncomplete);
  EXPECT_EQ(ClassifyRegisterAnswer("error: !yours"), RegisterVerdict::kNotYours);
  EXPECT_EQ(ClassifyRegisterAnswer("!badsys"), RegisterVerdict::kBadSys);
  EXPECT_EQ(ClassifyRegisterAnswer("goodness;1;1"), RegisterVerdict::kFailed);
  EXPECT_EQ(ClassifyRegisterAnswer(""), RegisterVerdict::kFailed);
}

TEST(GetByMacAnswer, NullMeansNotRegisteredAndFieldsComeInOrder) {
  EXPECT_FALSE(ParseGetByMacAnswer("null"));
  EXPECT_FALSE(ParseGetByMacAnswer("NULL"));
  EXPECT_FALSE(ParseGetByMacAnswer(""));
  auto record = ParseGetByMacAnswer("home.quarno.ralmek.co.kr;a@b.c;;2121;8080");
  ASSERT_TRUE(record);
  EXPECT_EQ(record->host_name, "home.quarno.ralmek.co.kr");
  EXPECT_EQ(record->Name(), "home");
  EXPECT_EQ(record->email, "a@b.c");
  EXPECT_EQ(record->ftp_port, "2121");  // empty fields are skipped
  EXPECT_EQ(record->http_port, "8080");
  // Too few fields to name a host, an address and a port: no record.
  EXPECT_FALSE(ParseGetByMacAnswer("home.x"));
  EXPECT_FALSE(ParseGetByMacAnswer("home.x;;a@b.c;"));
  auto partial = ParseGetByMacAnswer("home.x;a@b.c;2121");
  ASSERT_TRUE(partial);
  EXPECT_EQ(partial->ftp_port, "2121");
  EXPECT_EQ(partial->http_port, "");
}

}  // namespace
}  // namespace quarno
