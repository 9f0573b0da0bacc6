// Exact bytes of the router requests, the credential and the answer rules
// that need no router.
#include <gtest/gtest.h>

#include "ddns/ddns_manager.h"
#include "router/router_client.h"

namespace quarno {
namespace {

TEST(RouterDdnsRequest, ByteExactWithTwoEmptyLinesAndNoHeader) {
  EXPECT_EQ(RouterDdnsRequest("home", "user@example.com", "2121", "8080"),
            "GET /ddns/ddns_apply.cgi?act=set_ddns&hostname=home.quarno.ralmek.co.kr"
            "&ddns_account=user@example.com&ddns_password=user@example.com"
            "&ddns_service_type=quarno&ftp_port=2121&http_port=8080 HTTP/1.1\r\n\r\n\r\n");
}

TEST(RouterDdnsRequest, EncodesValuesThatWouldSplitTheQuery) {
  const std::string request = RouterDdnsRequest("a b", "x&y=z@m.n", "21", "80", "s.t");
  EXPECT_NE(request.find("hostname=a%20b.s.t&ddns_account=x%26y%3Dz@m.n&ddns_password="
                         "x%26y%3Dz@m.n&"),
            std::string::npos)
      << request;
}

TEST(RouterCredential, StandardBase64OfUserColonPassword) {
  EXPECT_EQ(Base64Encode(""), "");
  EXPECT_EQ(Base64Encode("f"), "Zg==");
  EXPECT_EQ(Base64Encode("fo"), "Zm8=");
  EXPECT_EQ(Base64Encode("foo"), "Zm9v");
  EXPECT_EQ(Base64Encode("foobar"), "Zm9vYmFy");
  EXPECT_EQ(MakeRouterCredential("admin", "1234"), "YWRtaW46MTIzNA==");
  EXPECT_EQ(Base64Encode("\xff\xfe"), "//4=");
}

TEST(Sysinfo, RequestBytesAndStatusLine) {
  EXPECT_STREQ(kCheckupRequest, "GET /checkup HTTP/1.1\r\n\r\n");
  EXPECT_STREQ(kVersionRequest, "GET /version HTTP/1.1\r\n\r\n");
  EXPECT_EQ(SysinfoRequest(),
            "GET /cgi-bin/corvane.cgi?tmenu=sysinfo&smenu=internet HTTP/1.1\r\n\r\n");
  EXPECT_EQ(SysinfoRequest("YWRtaW46MTIzNA=="),
            "GET /cgi-bin/corvane.cgi?tmenu=sysinfo&smenu=internet HTTP/1.1\r\n"
            "Authorization: Basic YWRtaW46MTIzNA==\r\n\r\n");
  EXPECT_EQ(ClassifySysinfoAnswer("HTTP/1.1 401 Unauthorized\r\n\r\n"),
            SysinfoAnswer::kUnauthorized);
  EXPECT_EQ(ClassifySysinfoAnswer("HTTP/1.0 200 OK\r\nX: 401 unauthorized\r\n"),
            SysinfoAnswer::kAccepted);
  EXPECT_EQ(ClassifySysinfoAnswer("HTTP/1.1 200 OK"), SysinfoAnswer::kOther);
  EXPECT_EQ(ClassifySysinfoAnswer("HTTP/1.1 403 Forbidden\r\n"), SysinfoAnswer::kOther);
}

TEST(AdminCredentials, EmptyFieldsAreCheckedBeforeAnyExchange) {
  // The address is never contacted: validation comes first.
  CredentialCheck check = CheckAdminCredentials("127.0.0.1", "", "secret");
  EXPECT_EQ(check.notice, kNoticeEnterUser);
  EXPECT_TRUE(check.focus_user);
  check = CheckAdminCredentials("127.0.0.1", "", "");
  EXPECT_EQ(check.notice, kNoticeEnterUser);
  check = CheckAdminCredentials("127.0.0.1", "admin", "");
  EXPECT_EQ(check.notice, kNoticeEnterPassword);
  EXPECT_TRUE(check.focus_password);
  EXPECT_FALSE(check.accepted);
  EXPECT_STREQ(AdminNoticeText(kNoticeEnterUser), "관리자 계정을 입력하세요");
  EXPECT_STREQ(AdminNoticeText(kNoticeCommError), "Ralmek 공유기와 통신 오류가 발생하였습니다.");
  EXPECT_STREQ(AdminNoticeText(kNoticeNone), "");
}

}  // namespace
}  // namespace quarno

namespace quarno {
namespace {

TEST(PeerDefaults, RouterAndDdnsOptions) {
  using std::chrono::milliseconds;
  const RouterOptions router;
  EXPECT_EQ(router.port, 80);
  EXPECT_EQ(router.connect_timeout, milliseconds(10000));
  EXPECT_EQ(router.receive_timeout, milliseconds(15000));
  EXPECT_EQ(router.chunk_size, 256u);
  const RouterDdnsOptions setting;
  EXPECT_EQ(setting.connect_timeout, milliseconds(5000));
  EXPECT_EQ(setting.chunk_size, 511u);
  const DdnsOptions ddns;
  EXPECT_EQ(ddns.port, 80);
  EXPECT_EQ(ddns.connect_timeout, milliseconds(10000));
  EXPECT_EQ(ddns.receive_timeout, milliseconds(15000));
  EXPECT_EQ(ddns.chunk_size, 511u);
}

}  // namespace
}  // namespace quarno
