#include "httpd/request_preface.h"

#include <gtest/gtest.h>

#include <optional>
#include <utility>

#include "httpd/http_server.h"
#include "httpd/propfind.h"

namespace quarno::httpd {
namespace {

TEST(RequestPreface, StatusRequestsAndTheMarkerAreFoundAnywhere) {
  EXPECT_EQ(DecidePreface("/quarno.html").action, PrefaceAction::kIdentify);
  EXPECT_EQ(DecidePreface("/httpstream/x/DISK_E/quarno.html").action, PrefaceAction::kIdentify);
  EXPECT_EQ(DecidePreface("/a%2Fquarno.html").action, PrefaceAction::kIdentify);  // after decoding
  EXPECT_EQ(DecidePreface("/quarno.htm").action, PrefaceAction::kNoMarker);
  EXPECT_EQ(DecidePreface("/QUARNO.html").action, PrefaceAction::kNoMarker);
  EXPECT_EQ(DecidePreface("/ftp_charset").action, PrefaceAction::kCharset);
  EXPECT_EQ(DecidePreface("/quarno.html/ftp_charset").action, PrefaceAction::kIdentify);
  EXPECT_EQ(DecidePreface("/DISK_E/movie.mp4").action, PrefaceAction::kNoMarker);
  EXPECT_EQ(DecidePreface("").action, PrefaceAction::kNoMarker);
  EXPECT_EQ(DecidePreface("/http%73tream/x/y").action, PrefaceAction::kServe);
}

TEST(RequestPreface, RewriteCutsThroughTheThirdSlash) {
  PrefaceDecision d = DecidePreface("/httpstream/anything/DISK_E/movie.mp4");
  EXPECT_EQ(d.action, PrefaceAction::kServe);
  EXPECT_EQ(d.path, "/DISK_E/movie.mp4");
  EXPECT_EQ(d.client_prefix, "/httpstream/anything");
  EXPECT_EQ(DecidePreface("/a/httpstream/b/c").path, "/b/c");
  EXPECT_EQ(DecidePreface("/httpstream/x/").path, "/");
  d = DecidePreface("/httpstream/x");
  EXPECT_EQ(d.path, "/httpstream/x");
  EXPECT_EQ(d.client_prefix, "");
  // Decoded first, "+" kept.
  d = DecidePreface("/httpstream/t%20k/%ED%95%9C+a");
  EXPECT_EQ(d.path, "/한+a");
  EXPECT_EQ(d.client_prefix, "/httpstream/t k");
  EXPECT_EQ(DecidePreface("/httpstream/x/bad%zz%4").path, "/bad%zz%4");
}

TEST(RequestPreface, DecodedPathsThatCouldEscapeAreRejectedOrCleaned) {
  for (const char* uri : {"/httpstream/x/a%00.jpg", "/httpstream/x/a%5cb", "/httpstream/x/a\\b"}) {
    EXPECT_EQ(DecidePreface(uri).action, PrefaceAction::kReject) << uri;
  }
  // Dot segments, plain or encoded, are removed after the prefix is cut and
  // never climb above the home folder.
  const std::pair<const char*, const char*> cleaned[] = {
      {"/httpstream/x/%2e%2e/etc", "/etc"},
      {"/httpstream/x/a/%2E", "/a/"},
      {"/httpstream/x/a%2f..", "/"},
      {"/httpstream/x/DISK_E/../../../../outside/s", "/outside/s"},
      {"/httpstream/%2e%2e/y/z", "/y/z"},
      {"/%2e%2e/httpstream", "/httpstream"},
      {"/httpstream/x/DISK_E/sub/../a.txt", "/DISK_E/a.txt"},
  };
  for (const auto& [uri, path] : cleaned) {
    PrefaceDecision d = DecidePreface(uri);
    EXPECT_EQ(d.action, PrefaceAction::kServe) << uri;
    EXPECT_EQ(d.path, path) << uri;
  }
  EXPECT_EQ(DecidePreface("/httpstream/x/..a/b..").action, PrefaceAction::kServe);
  EXPECT_EQ(DecidePreface("/httpstream/x/.hidden").action, PrefaceAction::kServe);
}

// The prefix is cut from the path as sent; repeated slashes go afterwards.
TEST(RequestPreface, RepeatedSlashesAreRemovedAfterTheRewrite) {
  PrefaceDecision d = DecidePreface("/httpstream//DISK_E/x");
  EXPECT_EQ(d.path, "/DISK_E/x");
  EXPECT_EQ(d.client_prefix, "/httpstream/");
  EXPECT_EQ(DecidePreface("/httpstream/t/DISK_E//a///b/").path, "/DISK_E/a/b/");
  EXPECT_EQ(DecidePreface("/httpstream/t/DISK_E/.").path, "/DISK_E/");
  EXPECT_EQ(CleanPath(""), "/");
  EXPECT_EQ(CleanPath("//"), "/");
}

TEST(RequestPreface, AnswerBytes) {
  EXPECT_EQ(IdentificationBody({0x02, 0x00, 0x00, 0x12, 0xAB, 0xCD}), "Ralmek_NAS-AB1122 12ABCD");
  EXPECT_EQ(CharsetBody(true), "UTF-8");
  EXPECT_EQ(CharsetBody(false), "EUC-KR");
  EXPECT_EQ(StatusHead(24),
            "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 24\r\n"
            "Connection: Close\r\n\r\n");
  EXPECT_EQ(NoMarkerAnswer(true),
            "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\nContent-Length: 30\r\n"
            "Connection: keep-alive\r\n\r\nError 404: Not Found\nNot Found");
  EXPECT_EQ(PercentEncodePath("/httpstream/t k/한/a-b_c.~\"<&>%"),
            "/httpstream/t%20k/%ED%95%9C/a-b_c.~%22%3C%26%3E%25");
  PropfindEntry entry{"/httpstream/x/%ED%95%9C/", true, 0, 0};
  EXPECT_EQ(MultistatusBody({entry}),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?><d:multistatus xmlns:d='DAV:'>\n"
            "<d:response><d:href>/httpstream/x/%ED%95%9C/</d:href><d:propstat><d:prop>"
            "<d:resourcetype><d:collection/></d:resourcetype><d:getcontentlength>0"
            "</d:getcontentlength><d:getlastmodified>Thu, 01 Jan 1970 00:00:00 GMT"
            "</d:getlastmodified></d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat>"
            "</d:response>\n</d:multistatus>\n");
}

// The HTTP side and the FTP side read one setting; a missing value is EUC-KR,
// as the account workflow writes "EUC-KR" unless UTF-8 was picked.
TEST(RequestPreface, FtpCharsetRule) {
  EXPECT_TRUE(FtpCharsetIsUtf8(std::string("UTF-8")));
  EXPECT_FALSE(FtpCharsetIsUtf8(std::string("EUC-KR")));
  EXPECT_FALSE(FtpCharsetIsUtf8(std::nullopt));
  EXPECT_FALSE(FtpCharsetIsUtf8(std::string("")));
  EXPECT_FALSE(FtpCharsetIsUtf8(std::string("utf-8")));
}

}  // namespace
}  // namespace quarno::httpd
