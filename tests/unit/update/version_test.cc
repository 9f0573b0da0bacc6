// Reading published version texts and naming the files they lead to.
#include "update/version.h"

#include <gtest/gtest.h>

#include "update/firmware_upgrade.h"
#include "update/program_update.h"
#include "update/sha256.h"

namespace quarno::update {
namespace {

TEST(VersionTest, ProgramVersionIsTheProjectVersion) { EXPECT_STREQ(ProgramVersion(), "1.06"); }

TEST(VersionTest, LeadingNumberReadsOnlyADecimalPrefix) {
  EXPECT_DOUBLE_EQ(LeadingNumber("8.34"), 8.34);
  EXPECT_DOUBLE_EQ(LeadingNumber("  9.12abc"), 9.12);
  EXPECT_DOUBLE_EQ(LeadingNumber("1.10"), LeadingNumber("1.1"));
  EXPECT_GT(LeadingNumber("1.1"), LeadingNumber("1.06"));
  EXPECT_DOUBLE_EQ(LeadingNumber("6"), 6);
  for (const char* text : {"", "abc", "inf", "nan", ".", "-1", "zq300"})
    EXPECT_EQ(LeadingNumber(text), 0) << text;
  EXPECT_DOUBLE_EQ(LeadingNumber("0x20"), 0);
}

TEST(VersionTest, OnlyPlainVersionsMayNameFiles) {
  EXPECT_TRUE(IsSafeVersionText("1.07"));
  EXPECT_TRUE(IsSafeVersionText("1.07-2"));
  for (const char* text : {"", "1.07/../../x", "1.07\r\nX", "1.07 beta", "v1.07", "../1"})
    EXPECT_FALSE(IsSafeVersionText(text)) << text;
}

TEST(VersionTest, FileNamesAndUrls) {
  EXPECT_EQ(FirmwareFileName("zq300", "9.12"), "zq300_9_12.bin");
  EXPECT_EQ(FirmwareUrl("127.0.0.6:8082", "zq300_9_12.bin"),
            "http://127.0.0.6:8082/online_upgrade/zq300_9_12.bin");
  // A router or server text must never lead outside the folders.
  EXPECT_EQ(FirmwareFileName("../../etc/x", "9.12"), "");
  EXPECT_EQ(FirmwareFileName("zq300", "9/12"), "");
  EXPECT_EQ(FirmwareFileName(".hidden", "9.12"), "");
  EXPECT_EQ(FirmwareFileName("", "9.12"), "");
  EXPECT_EQ(SetupUrl("dl:81", "1.07"),
            "http://dl:81/online_upgrade/quarno_pcserver_setup_1.07.deb");
}

TEST(VersionTest, PublishedDigestForms) {
  const std::string hex = "B94D27B9934D3E08A52E52D7DA7DABFAC484EFE37A5380EE9088F7ACE2EFCDE9";
  EXPECT_EQ(ParsePublishedSha256(hex + "  f.bin\n"),
            "b94d27b9934d3e08a52e52d7da7dabfac484efe37a5380ee9088f7ace2efcde9");
  EXPECT_EQ(ParsePublishedSha256(" " + hex), ParsePublishedSha256(hex));
  EXPECT_FALSE(ParsePublishedSha256(hex.substr(1)));
  EXPECT_FALSE(ParsePublishedSha256("<html>not found</html>"));
  EXPECT_FALSE(ParsePublishedSha256(""));
}

TEST(VersionTest, UploadFraming) {
  EXPECT_EQ(UploadPartHead("zq300_9_12.bin"),
            "--SsS5RoOHpjOb58XTd2hc1GnLdT1mky\r\nContent-Disposition: form-data; "
            "name=\"upgrade\"; filename=\"zq300_9_12.bin\"\r\nContent-Type: "
            "application/octet-stream\r\n\r\n");
  EXPECT_EQ(UploadTail(), "\r\n--SsS5RoOHpjOb58XTd2hc1GnLdT1mky--\r\n");
  EXPECT_EQ(UploadRequestHeader(1200, ""),
            "POST /cgi-bin/upgrade.cgi HTTP/1.1\r\nContent-Type: multipart/form-data; "
            "boundary=SsS5RoOHpjOb58XTd2hc1GnLdT1mky\r\nContent-Length: 1200\r\n\r\n");
  EXPECT_NE(UploadRequestHeader(1200, "YWRtaW46MTIzNA==")
                .find("\r\nAuthorization: Basic YWRtaW46MTIzNA==\r\n\r\n"),
            std::string::npos);
}

}  // namespace
}  // namespace quarno::update
