#include "httpd/http_auth.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "httpd/http_access.h"
#include "httpd/share_link.h"

namespace quarno::httpd {
namespace {

using std::chrono::seconds;
using Clock = std::chrono::system_clock;

TEST(HttpAuth, DigestResponsesOfTheStandardsWorkedExample) {
  // RFC 7616, 3.9.1.
  const char* nonce = "7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v";
  const char* cnonce = "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ";
  EXPECT_EQ(DigestResponse(false, "Mufasa", "http-auth@example.org", "Circle of Life", "GET",
                           "/dir/index.html", nonce, "00000001", cnonce),
            "8ca523f5e9506fed4657c9700eebdbec");
  EXPECT_EQ(DigestResponse(true, "Mufasa", "http-auth@example.org", "Circle of Life", "GET",
                           "/dir/index.html", nonce, "00000001", cnonce),
            "753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1");
}

TEST(HttpAuth, AuthorizationHeadersSplit) {
  struct Case {
    const char* text;
    AuthScheme scheme;
    const char* username;  // Digest only; nullptr: not there
  };
  const Case cases[] = {
      {"Digest username=\"a\\\"b\", nc=00000001", AuthScheme::kDigest, "a\"b"},
      {"digest   USERNAME = \"x\" ,realm=\"r\"", AuthScheme::kDigest, "x"},
      {"Digest username=\"x\", username=\"y\"", AuthScheme::kOther, nullptr},  // repeated
      {"Digest username=\"x", AuthScheme::kOther, nullptr},                    // unclosed
      {"Digest username=\"x\" realm=\"y\"", AuthScheme::kOther, nullptr},      // no comma
      {"Digest", AuthScheme::kOther, nullptr},
      {"Basic dTpw", AuthScheme::kBasic, nullptr},
      {"Basic a b", AuthScheme::kOther, nullptr},
      {"Bearer abc", AuthScheme::kOther, nullptr},
      {"", AuthScheme::kNone, nullptr},
  };
  for (const Case& c : cases) {
    const AuthorizationHeader header = ParseAuthorization(c.text);
    EXPECT_EQ(header.scheme, c.scheme) << c.text;
    if (c.username) {
      ASSERT_NE(header.Param("username"), nullptr) << c.text;
      EXPECT_EQ(*header.Param("username"), c.username);
    }
  }
}

TEST(HttpAuth, NoncesAgeAndCannotBeForged) {
  NonceMint mint, other;
  const auto now = Clock::now();
  const std::string nonce = mint.Issue(now);
  EXPECT_EQ(nonce.size(), 32u);
  EXPECT_EQ(mint.Check(nonce, now + seconds(10)), NonceMint::Age::kFresh);
  EXPECT_EQ(mint.Check(nonce, now + kNonceLifetime + seconds(2)), NonceMint::Age::kStale);
  EXPECT_EQ(other.Check(nonce, now), NonceMint::Age::kForged);
  std::string tampered = nonce;
  tampered[3] = tampered[3] == 'A' ? 'B' : 'A';
  EXPECT_EQ(mint.Check(tampered, now), NonceMint::Age::kForged);
  EXPECT_EQ(mint.Check("123", now), NonceMint::Age::kForged);
}

struct Built {
  bool sha256 = true;
  std::string user = "kim";
  std::string password = "비밀pw";
  std::string uri = "/httpstream/x/DISK_E/a.txt";
  std::string realm = kAuthRealm;
  std::string algorithm = "SHA-256";
  std::string extra;
};

std::string DigestHeader(const Built& b, const std::string& nonce) {
  const std::string response = DigestResponse(b.sha256, b.user, b.realm, b.password, "GET", b.uri,
                                              nonce, "00000001", "c0ffee");
  return "Digest username=\"" + b.user + "\", realm=\"" + b.realm + "\", nonce=\"" + nonce +
         "\", uri=\"" + b.uri + "\", algorithm=" + b.algorithm +
         ", qop=auth, nc=00000001, cnonce=\"c0ffee\", response=\"" + response + "\"" + b.extra;
}

TEST(HttpAuth, CheckAuthorizationOutcomes) {
  NonceMint mint;
  const auto now = Clock::now();
  const std::string nonce = mint.Issue(now);
  const std::optional<Credentials> account = Credentials{"kim", "비밀pw"};
  const std::string target = "/httpstream/x/DISK_E/a.txt";
  struct Case {
    const char* name;
    std::string header;
    bool tls;
    Clock::time_point at;
    AuthOutcome want;
  };
  Built md5;
  md5.sha256 = false;
  md5.algorithm = "MD5";
  Built wrong_password;
  wrong_password.password = "guess";
  Built wrong_user;
  wrong_user.user = "lee";
  Built other_uri;
  other_uri.uri = "/httpstream/x/DISK_E/b.txt";
  Built other_realm;
  other_realm.realm = "elsewhere";
  Built sess;
  sess.algorithm = "MD5-sess";
  const Case cases[] = {
      {"sha256", DigestHeader(Built{}, nonce), false, now, AuthOutcome::kGood},
      {"md5", DigestHeader(md5, nonce), false, now, AuthOutcome::kGood},
      {"wrong password", DigestHeader(wrong_password, nonce), false, now, AuthOutcome::kWrong},
      {"wrong user", DigestHeader(wrong_user, nonce), false, now, AuthOutcome::kWrong},
      {"expired nonce", DigestHeader(Built{}, nonce), false, now + seconds(400),
       AuthOutcome::kStale},
      {"expired, wrong", DigestHeader(wrong_password, nonce), false, now + seconds(400),
       AuthOutcome::kWrong},
      {"foreign nonce", DigestHeader(Built{}, NonceMint().Issue(now)), false, now,
       AuthOutcome::kMissing},
      {"replayed for another file", DigestHeader(other_uri, nonce), false, now,
       AuthOutcome::kMissing},
      {"other realm", DigestHeader(other_realm, nonce), false, now, AuthOutcome::kMissing},
      {"unknown algorithm", DigestHeader(sess, nonce), false, now, AuthOutcome::kMissing},
      {"basic in the clear", "Basic a2ltOuu5hOuwgHB3", false, now, AuthOutcome::kMissing},
      {"basic over tls", "Basic a2ltOuu5hOuwgHB3", true, now, AuthOutcome::kGood},
      {"basic, wrong", "Basic a2ltOmd1ZXNz", true, now, AuthOutcome::kWrong},
      {"basic, no colon", "Basic a2lt", true, now, AuthOutcome::kWrong},
      {"other scheme", "Bearer x", false, now, AuthOutcome::kMissing},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CheckAuthorization({c.header}, "GET", target, c.tls, account, mint, c.at), c.want)
        << c.name;
  }
  const std::string good = DigestHeader(Built{}, nonce);
  EXPECT_EQ(CheckAuthorization({good, good}, "GET", target, false, account, mint, now),
            AuthOutcome::kMissing);
  EXPECT_EQ(CheckAuthorization({good}, "GET", target + "?x=1", false, account, mint, now),
            AuthOutcome::kGood);  // the query need not be in the answer
  EXPECT_EQ(CheckAuthorization({good}, "GET", target, false, std::nullopt, mint, now),
            AuthOutcome::kWrong);
}

TEST(ShareLink, TokenFollowsSecretAndAccountAndIsLongEnough) {
  const std::string secret(32, 's');
  const std::string token = ShareToken(secret, "kim", "pw1");
  EXPECT_EQ(token.size(), 32u);  // 192 bits
  EXPECT_EQ(token.find_first_not_of(
                "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
            std::string::npos);
  const std::set<std::string> distinct = {token, ShareToken(secret, "kim", "pw2"),
                                          ShareToken(secret, "kimp", "w1"),
                                          ShareToken(std::string(32, 't'), "kim", "pw1")};
  EXPECT_EQ(distinct.size(), 4u);
  EXPECT_TRUE(TokenMatches(token, ShareToken(secret, "kim", "pw1")));
  EXPECT_FALSE(TokenMatches(token.substr(1), token));
  EXPECT_FALSE(TokenMatches("", ""));
  EXPECT_EQ(StreamToken("/httpstream/" + token), token);
  EXPECT_EQ(StreamToken(""), "");
  EXPECT_EQ(ShareLinkUrl("pc.example", "8080", "T", "사진"),
            "https://pc.example:8080/httpstream/T/%EC%82%AC%EC%A7%84/");
}

class CountingGuard : public LoginGuard {
 public:
  bool Banned(const std::string&) override { return failures >= 3; }
  bool MayCheckNow(const std::string&) override { return !pacing; }
  void Failed(const std::string&) override { ++failures; }
  void Succeeded(const std::string&) override { ++successes; }
  int failures = 0, successes = 0;
  bool pacing = false;
};

TEST(HttpAccess, EachKindOfAccessAndTheBan) {
  NonceMint mint;
  const auto now = Clock::now();
  const std::string good = DigestHeader(Built{}, mint.Issue(now));
  Built guess;
  guess.password = "guess";
  const std::string bad = DigestHeader(guess, mint.Issue(now));
  AccessRules locked;
  locked.account = Credentials{"kim", "비밀pw"};
  locked.link_token = ShareToken(std::string(32, 's'), "kim", "비밀pw");
  AccessRules open = locked;
  open.open = true;
  struct Case {
    const char* name;
    const AccessRules* rules;
    std::string token;
    std::string authorization;  // empty: none
    int status;                 // 0: allowed
  };
  const Case cases[] = {
      {"nothing", &locked, "x", "", 401},
      {"open", &open, "x", "", 0},
      {"link", &locked, locked.link_token, "", 0},
      {"old link", &locked, ShareToken(std::string(32, 's'), "kim", "old"), "", 401},
      {"account", &locked, "x", good, 0},
      {"guess", &locked, "x", bad, 401},
  };
  for (const Case& c : cases) {
    CountingGuard guard;
    AccessRequest request;
    request.method = "GET";
    request.target = "/httpstream/x/DISK_E/a.txt";
    request.token = c.token;
    request.peer = "192.0.2.7";
    if (!c.authorization.empty()) request.authorization.push_back(c.authorization);
    const AccessVerdict verdict = DecideAccess(request, *c.rules, mint, &guard, now);
    EXPECT_EQ(verdict.allowed ? 0 : verdict.status, c.status) << c.name;
    if (verdict.status == 401) {
      EXPECT_NE(verdict.answer.find("WWW-Authenticate: Digest realm=\"mydomain.com\", qop=\"auth\", "
                                    "algorithm=SHA-256"),
                std::string::npos);
      EXPECT_EQ(verdict.answer.find("Basic"), std::string::npos) << "not in the clear";
      EXPECT_EQ(verdict.answer.find("a.txt"), std::string::npos);
    }
    EXPECT_EQ(guard.failures, std::string(c.name) == "guess" ? 1 : 0) << c.name;
  }

  // Three guesses ban the address: even the right password is not looked at
  // then, while the link, which nobody can guess, still opens.
  CountingGuard guard;
  AccessRequest request;
  request.method = "GET";
  request.target = "/httpstream/x/DISK_E/a.txt";
  request.token = "x";
  request.authorization = {bad};
  for (int i = 0; i < 3; ++i) DecideAccess(request, locked, mint, &guard, now);
  request.authorization = {good};
  EXPECT_EQ(DecideAccess(request, locked, mint, &guard, now).status, 403);
  EXPECT_EQ(guard.successes, 0);
  request.token = locked.link_token;
  EXPECT_TRUE(DecideAccess(request, locked, mint, &guard, now).allowed);

  CountingGuard paced;
  paced.pacing = true;
  request.token = "x";
  EXPECT_EQ(DecideAccess(request, locked, mint, &paced, now).status, 429);
}

}  // namespace
}  // namespace quarno::httpd
