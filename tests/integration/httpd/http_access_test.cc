// The three kinds of access to the share (none, the account, the link) with
// curl as the client, and the failures it counts toward the ban.
#include <map>
#include <mutex>

#include "http_fixture.h"
#include "httpd/share_link.h"

namespace {

using quarno::httpd::AccessRules;
using quarno::httpd::Credentials;

class RecordingGuard : public quarno::httpd::LoginGuard {
 public:
  bool Banned(const std::string& peer) override { return Count(peer) >= 3; }
  bool MayCheckNow(const std::string&) override { return true; }
  void Failed(const std::string& peer) override {
    std::lock_guard lock(mutex_);
    ++failures_[peer];
  }
  void Succeeded(const std::string&) override {}
  int Count(const std::string& peer) {
    std::lock_guard lock(mutex_);
    return failures_[peer];
  }

 private:
  std::mutex mutex_;
  std::map<std::string, int> failures_;
};

class HttpAccessTest : public HttpServerTest {
 protected:
  void SetUp() override {
    login_guard_ = guard_;
    HttpServerTest::SetUp();
    WriteFile(share_ + "/사진.txt", "PHOTO");
    rules_.account = Credentials{"kim", "pa:ss word"};
    rules_.link_token = quarno::httpd::ShareToken(std::string(32, 'k'), "kim", "pa:ss word");
    SetAccess(rules_);
  }
  static std::string Status(const CurlResult& r) { return r.output.substr(0, r.output.find("\r\n")); }

  std::shared_ptr<RecordingGuard> guard_ = std::make_shared<RecordingGuard>();
  AccessRules rules_;
};

TEST_F(HttpAccessTest, EachClientWayInAndOut) {
  const std::string file = "/DISK_E/%EC%82%AC%EC%A7%84.txt";
  struct Case {
    const char* name;
    std::string path;
    std::string curl;
    std::string status;  // of the last answer curl shows
  };
  const Case cases[] = {
      {"none", "/httpstream/x" + file, "", "HTTP/1.1 401 Unauthorized"},
      {"folder, none", "/httpstream/x/DISK_E/", "-X PROPFIND", "HTTP/1.1 401 Unauthorized"},
      {"digest", "/httpstream/x" + file, "--digest -u 'kim:pa:ss word'", "HTTP/1.1 200 OK"},
      {"anyauth", "/httpstream/x" + file + "?q=1", "--anyauth -u 'kim:pa:ss word'",
       "HTTP/1.1 200 OK"},
      {"basic in the clear", "/httpstream/x" + file, "--basic -u 'kim:pa:ss word'",
       "HTTP/1.1 401 Unauthorized"},
      {"link", "/httpstream/" + rules_.link_token + file, "", "HTTP/1.1 200 OK"},
      {"link, folder", "/httpstream/" + rules_.link_token + "/DISK_E/", "", "HTTP/1.1 200 OK"},
  };
  for (const Case& c : cases) {
    const CurlResult r = Get(c.path, c.curl);
    const std::size_t last = r.output.rfind("HTTP/1.1 ");
    ASSERT_NE(last, std::string::npos) << c.name;
    EXPECT_EQ(r.output.substr(last, r.output.find("\r\n", last) - last), c.status) << c.name;
    if (c.status.ends_with("200 OK") && c.path.ends_with(".txt")) {
      EXPECT_TRUE(r.output.ends_with("\r\n\r\nPHOTO")) << c.name;
    }
    if (c.status.ends_with("Unauthorized")) {
      EXPECT_EQ(r.output.find("사진"), std::string::npos) << c.name;
      EXPECT_EQ(r.output.find("%EC%82"), std::string::npos) << c.name;
    }
  }
  EXPECT_EQ(guard_->Count("127.0.0.1"), 0) << "asking is no failed login";

  // A new password is a new link; the old one stops working.
  AccessRules changed = rules_;
  changed.account->password = "new";
  changed.link_token = quarno::httpd::ShareToken(std::string(32, 'k'), "kim", "new");
  SetAccess(changed);
  EXPECT_EQ(Status(Get("/httpstream/" + rules_.link_token + file)), "HTTP/1.1 401 Unauthorized");
  EXPECT_EQ(Status(Get("/httpstream/" + changed.link_token + file)), "HTTP/1.1 200 OK");
}

TEST_F(HttpAccessTest, WrongPasswordsBanTheAddressWhileStatusRequestsStayOpen) {
  const std::string path = "/httpstream/x/DISK_E/%EC%82%AC%EC%A7%84.txt";
  for (int i = 1; i <= 3; ++i) {
    const CurlResult r = Get(path, "--digest -u kim:guess");
    EXPECT_NE(r.output.rfind("HTTP/1.1 401"), std::string::npos);
    EXPECT_EQ(guard_->Count("127.0.0.1"), i);
  }
  const CurlResult banned = Get(path, "--digest -u 'kim:pa:ss word'");
  EXPECT_NE(banned.output.rfind("HTTP/1.1 403 Forbidden"), std::string::npos) << banned.output;
  EXPECT_EQ(Status(Get("/quarno.html")), "HTTP/1.1 200 OK");
  EXPECT_EQ(Status(Get("/ftp_charset")), "HTTP/1.1 200 OK");
  EXPECT_EQ(Status(Get("/httpstream/" + rules_.link_token + "/DISK_E/")), "HTTP/1.1 200 OK");
}

}  // namespace
