#include "httpd/request_preface.h"

#include <gtest/gtest.h>

#include <thread>

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

TEST(RequestPreface, DecodedPathsThatCouldEscapeAreRejected) {
  for (const char* uri : {"/httpstream/x/%2e%2e/etc", "/httpstream/x/a/%2E", "/httpstream/x/a%2f..",
                          "/httpstream/x/a%00.jpg", "/httpstream/x/a%5cb", "/httpstream/x/a\\b",
                          "/httpstream/%2e%2e/y/z", "/%2e%2e/httpstream"}) {
    EXPECT_EQ(DecidePreface(uri).action, PrefaceAction::kReject) << uri;
  }
  EXPECT_EQ(DecidePreface("/httpstream/x/..a/b..").action, PrefaceAction::kServe);
  EXPECT_EQ(DecidePreface("/httpstream/x/.hidden").action, PrefaceAction::kServe);
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

TEST(RequestPreface, RouterMacIsNeverReadTorn) {
  const std::array<std::uint8_t, 6> a{1, 1, 1, 1, 1, 1}, b{2, 2, 2, 2, 2, 2};
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int i = 0; !stop; ++i) SetRouterMac(i % 2 ? a : b);
  });
  for (int i = 0; i < 200000; ++i) {
    auto mac = RouterMac();
    const bool whole = mac == a || mac == b || mac == std::array<std::uint8_t, 6>{};
    ASSERT_TRUE(whole);
  }
  stop = true;
  writer.join();
}

}  // namespace
}  // namespace quarno::httpd
