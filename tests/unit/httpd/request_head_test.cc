// The request layer without sockets: what the engine takes from a head, and
// the digest check behind a folder's ".htpasswd".
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nettle/md5.h>

#include <string>

#include "httpd/digest_auth.h"
#include "httpd/exchange.h"
#include "httpd/request_head.h"

namespace {

using quarno::httpd::Exchange;
using quarno::httpd::HeadVerdict;
using quarno::httpd::ParseHead;

TEST(RequestHead, VerdictsOnHeads) {
  struct Case {
    const char* name;
    std::string bytes;
    HeadVerdict verdict;
  } cases[] = {
      {"plain", "GET /a?b=1 HTTP/1.1\r\nHost: h\r\n\r\n", HeadVerdict::kTaken},
      {"unknown method", "MOVE /a HTTP/1.1\r\nDestination: /b\r\n\r\n", HeadVerdict::kTaken},
      {"HTTP/1.0", "GET / HTTP/1.0\r\n\r\n", HeadVerdict::kTaken},
      {"unfinished", "GET / HTTP/1.1\r\nHost: h\r\n", HeadVerdict::kGone},
      {"over 16 KiB", "GET / HTTP/1.1\r\nX: " + std::string(17000, 'a') + "\r\n\r\n",
       HeadVerdict::kTooLarge},
      {"unfinished past 16 KiB", "GET / HTTP/1.1\r\nX: " + std::string(17000, 'a'),
       HeadVerdict::kTooLarge},
      {"bad line ending", "GET / HTTP/1.1\nHost: h\n\n", HeadVerdict::kBad},
      {"space in target", "GET /a b HTTP/1.1\r\n\r\n", HeadVerdict::kBad},
      {"bad version", "GET / HTTP/2\r\n\r\n", HeadVerdict::kBad},
      {"header without colon", "GET / HTTP/1.1\r\nHost\r\n\r\n", HeadVerdict::kBad},
      {"two lengths", "GET / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 1\r\n\r\n",
       HeadVerdict::kBad},
  };
  for (const Case& c : cases) {
    Exchange exchange;
    EXPECT_EQ(ParseHead(c.bytes, exchange), c.verdict) << c.name;
  }
  std::string many = "GET / HTTP/1.1\r\n";
  for (int i = 0; i < 101; ++i) many += "A" + std::to_string(i) + ": b\r\n";
  Exchange exchange;
  EXPECT_EQ(ParseHead(many + "\r\n", exchange), HeadVerdict::kTooLarge);
}

TEST(RequestHead, TakesMethodTargetAndHeadersAsSent) {
  Exchange exchange;
  std::size_t used = 0;
  const std::string head =
      "PROPFIND /httpstream/x/%ED%95%9C/?q=1 HTTP/1.1\r\nDepth: 1\r\nconnection: Keep-Alive\r\n\r\n";
  ASSERT_EQ(ParseHead(head + "GET /next HTTP/1.1\r\n\r\n", exchange, &used), HeadVerdict::kTaken);
  EXPECT_EQ(used, head.size());  // a pipelined request stays for the next read
  EXPECT_EQ(exchange.method, "PROPFIND");
  EXPECT_EQ(exchange.target, "/httpstream/x/%ED%95%9C/?q=1");
  EXPECT_STREQ(exchange.Header("CONNECTION"), "Keep-Alive");
  EXPECT_STREQ(exchange.QueryString(), "q=1");
  EXPECT_EQ(exchange.Header("Range"), nullptr);
}

std::string Md5Hex(const std::string& text) {
  md5_ctx context;
  md5_init(&context);
  md5_update(&context, text.size(), reinterpret_cast<const std::uint8_t*>(text.data()));
  std::uint8_t digest[MD5_DIGEST_SIZE];
  md5_digest(&context, sizeof digest, digest);
  char hex[2 * MD5_DIGEST_SIZE + 1];
  for (int i = 0; i < MD5_DIGEST_SIZE; ++i) std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
  return hex;
}

TEST(DigestAuth, OnlyAFreshRightAnswerForThisRequestPasses) {
  const std::string ha1 = Md5Hex("kim:mydomain.com:secret");
  const std::string file = "lee:mydomain.com:" + Md5Hex("lee:mydomain.com:x") + "\nkim:mydomain.com:" +
                           ha1 + "\n";
  const std::time_t now = 1700000000;
  auto answer = [&](const std::string& user, const std::string& password, long nonce,
                    const std::string& uri) {
    const std::string h1 = Md5Hex(user + ":mydomain.com:" + password);
    const std::string n = std::to_string(nonce);
    const std::string response =
        Md5Hex(h1 + ":" + n + ":00000001:abc:auth:" + Md5Hex("GET:" + uri));
    return "Digest username=\"" + user + "\", realm=\"mydomain.com\", nonce=\"" + n + "\", uri=\"" +
           uri + "\", qop=auth, nc=00000001, cnonce=\"abc\", response=\"" + response + "\"";
  };
  const std::string uri = "/httpstream/x/DISK_E/private/doc.txt";
  struct Case {
    const char* name;
    std::string header;
    std::string uri;
    bool passes;
  } cases[] = {
      {"right", answer("kim", "secret", now - 10, uri), uri, true},
      {"wrong password", answer("kim", "guess", now - 10, uri), uri, false},
      {"unknown user", answer("park", "secret", now - 10, uri), uri, false},
      {"stale nonce", answer("kim", "secret", now - 4000, uri), uri, false},
      {"nonce from the future", answer("kim", "secret", now + 60, uri), uri, false},
      {"another request's answer", answer("kim", "secret", now - 10, "/other"), uri, false},
      {"basic", "Basic a2ltOnNlY3JldA==", uri, false},
      {"empty", "Digest ", uri, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(quarno::httpd::DigestAuthorized(c.header, "GET", c.uri, file, now), c.passes)
        << c.name;
  }
  EXPECT_THAT(quarno::httpd::DigestChallenge(now),
              ::testing::HasSubstr("realm=\"mydomain.com\", nonce=\"1700000000\"\r\n\r\n"));
}

}  // namespace
