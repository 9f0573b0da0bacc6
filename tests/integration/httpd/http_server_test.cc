// curl against the server on loopback: what a client on the Internet sees.
#include "httpd/http_server.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "http_fixture.h"

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

const char kKoreanFolder[] = "한글폴더";
const char kKoreanFolderEncoded[] = "%ED%95%9C%EA%B8%80%ED%8F%B4%EB%8D%94";
const char kKoreanFileEncoded[] = "%ED%8C%8C%EC%9D%BC.txt";  // 파일.txt

std::string Body(const CurlResult& result) {
  std::size_t end = result.output.find("\r\n\r\n");
  return end == std::string::npos ? "" : result.output.substr(end + 4);
}

TEST_F(HttpServerTest, StatusRequestsAnswerWithTheirOwnBytes) {
  const std::string identification =
      "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 24\r\n"
      "Connection: Close\r\n\r\nRalmek_NAS-AB1122 12ABCD";
  EXPECT_EQ(Get("/quarno.html").output, identification);
  // The query is cut before the substring test; the marker is found anywhere.
  EXPECT_EQ(Get("/share/quarno.html?x=1").output, identification);

  EXPECT_EQ(Body(Get("/ftp_charset")), "EUC-KR");
  EXPECT_THAT(Get("/ftp_charset").output, HasSubstr("Content-Length: 6\r\n"));
  // The setting is read per request: the next request sees the change.
  SetCharsetSetting("UTF-8");
  EXPECT_EQ(Body(Get("/x/ftp_charset")), "UTF-8");
  EXPECT_THAT(Get("/ftp_charset").output, HasSubstr("Content-Length: 5\r\n"));
  // A missing setting reads as EUC-KR, as on the FTP side.
  SetCharsetSetting(std::nullopt);
  EXPECT_EQ(Body(Get("/ftp_charset")), "EUC-KR");
  SetMac({0, 0, 0, 0xFE, 0x01, 0x0A});
  EXPECT_EQ(Body(Get("/quarno.html")), "Ralmek_NAS-AB1122 FE010A");
}

TEST_F(HttpServerTest, PathsWithoutTheStreamMarkerGetTheFixed404) {
  WriteFile(share_ + "/movie.mp4", "data");
  const std::string answer =
      "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\nContent-Length: 30\r\n"
      "Connection: close\r\n\r\nError 404: Not Found\nNot Found";
  EXPECT_EQ(Get("/DISK_E/movie.mp4").output, answer);
  EXPECT_EQ(Get("/").output, answer);
  // The marker test comes before the library's OPTIONS and PROPFIND.
  EXPECT_EQ(Get("/", "-X OPTIONS").output, answer);
  EXPECT_EQ(Get("/", "-X PROPFIND").output, answer);
  EXPECT_THAT(Get("/DISK_E/movie.mp4", "-H 'Connection: Keep-Alive'").output,
              HasSubstr("\r\nConnection: keep-alive\r\n\r\nError 404: Not Found\nNot Found"));
}

TEST_F(HttpServerTest, StreamPathsServeFilesOfTheShare) {
  std::string movie(1000, '\0');
  for (std::size_t i = 0; i < movie.size(); ++i) movie[i] = static_cast<char>('a' + i % 26);
  WriteFile(share_ + "/movie.mp4", movie);

  CurlResult whole = Get("/httpstream/anything/DISK_E/movie.mp4?t=5");
  EXPECT_THAT(whole.output, StartsWith("HTTP/1.1 200 OK\r\n"));
  EXPECT_EQ(Body(whole), movie);

  CurlResult range = Get("/httpstream/x/DISK_E/movie.mp4", "-H 'Range: bytes=0-99'");
  EXPECT_THAT(range.output, StartsWith("HTTP/1.1 206 Partial Content\r\n"));
  EXPECT_THAT(range.output, HasSubstr("Content-Length: 100\r\n"));
  EXPECT_EQ(Body(range), movie.substr(0, 100));

  CurlResult options = Get("/httpstream/x/DISK_E/", "-X OPTIONS");
  EXPECT_THAT(options.output, StartsWith("HTTP/1.1 200 OK\r\n"));
  EXPECT_THAT(options.output, HasSubstr("DAV: 1\r\n"));
  EXPECT_THAT(options.output, HasSubstr("Allow: GET, POST, HEAD, CONNECT, PUT, DELETE, OPTIONS"));

  // Two slashes only: not rewritten, looked up as httpstream/x in the home folder.
  fs::create_directories(home_ + "/httpstream/x");
  WriteFile(home_ + "/httpstream/x/f.txt", "plain");
  EXPECT_THAT(Get("/httpstream/x/f.txt").output, StartsWith("HTTP/1.1 404"));  // now /f.txt
  EXPECT_THAT(Get("/httpstream/x").output,
              AllOf(StartsWith("HTTP/1.1 301"), HasSubstr("Location: /httpstream/x/\r\n")));
}

TEST_F(HttpServerTest, KoreanFileAndFolderListAndDownload) {
  fs::create_directories(share_ + "/" + kKoreanFolder);
  WriteFile(share_ + "/" + kKoreanFolder + "/파일.txt", "korean content");
  const std::string folder = std::string("/httpstream/tok/DISK_E/") + kKoreanFolderEncoded;

  EXPECT_EQ(Body(Get(folder + "/" + kKoreanFileEncoded)), "korean content");
  // The folder without its slash answers one redirect, to the client's own
  // prefix, percent-encoded; the library alone would loop on "//".
  CurlResult redirect = Get(folder);
  EXPECT_THAT(redirect.output, StartsWith("HTTP/1.1 301 Moved Permanently\r\n"));
  EXPECT_THAT(redirect.output, HasSubstr("Location: " + folder + "/\r\n"));
  CurlResult listing = Get(folder + "/");
  EXPECT_THAT(listing.output, StartsWith("HTTP/1.1 200 OK\r\n"));
  EXPECT_THAT(listing.output, HasSubstr("파일.txt"));
  CurlResult followed = RunCurl("-s -L --max-redirs 3 " + Url(folder));
  EXPECT_EQ(followed.exit_code, 0);
  EXPECT_THAT(followed.output, HasSubstr("파일.txt"));

  CurlResult propfind = Get(folder + "/", "-X PROPFIND -H 'Depth: 1'");
  EXPECT_THAT(propfind.output, StartsWith("HTTP/1.1 207 Multi-Status\r\n"));
  EXPECT_THAT(propfind.output, HasSubstr("<d:href>" + folder + "/</d:href>"));
  EXPECT_THAT(propfind.output,
              HasSubstr("<d:href>" + folder + "/" + kKoreanFileEncoded + "</d:href>"));
  EXPECT_THAT(propfind.output, HasSubstr("<d:getcontentlength>14</d:getcontentlength>"));

  CurlResult depth0 = Get("/httpstream/tok/DISK_E/", "-X PROPFIND -H 'Depth: 0'");
  EXPECT_THAT(depth0.output, HasSubstr("<d:href>/httpstream/tok/DISK_E/</d:href>"));
  EXPECT_THAT(depth0.output, Not(HasSubstr(kKoreanFolderEncoded)));
  CurlResult depth1 = Get("/httpstream/tok/DISK_E/", "-X PROPFIND -H 'Depth: 1'");
  EXPECT_THAT(depth1.output, HasSubstr("<d:href>/httpstream/tok/DISK_E/" +
                                       std::string(kKoreanFolderEncoded) + "/</d:href>"));
}

TEST_F(HttpServerTest, TraversalNeverLeavesTheHomeFolder) {
  WriteFile(share_ + "/a.txt", "inside");
  fs::create_directory_symlink(outside_, share_ + "/escape");
  fs::create_symlink(outside_ + "/secret.txt", share_ + "/secret-link.txt");
  fs::create_directory(share_ + "/sub");
  fs::create_symlink(share_ + "/a.txt", share_ + "/sub/inner-link.txt");
  const char* corpus[] = {
      "/httpstream/x/DISK_E/../../outside/secret.txt",
      "/httpstream/x/DISK_E/../../../../../../../../etc/passwd",
      "/httpstream/x/DISK_E/%2e%2e/%2e%2e/outside/secret.txt",
      "/httpstream/x/DISK_E/%2E%2E%2F%2E%2E%2Foutside%2Fsecret.txt",
      "/httpstream/x/DISK_E/..%2f..%2foutside/secret.txt",
      "/httpstream/x/DISK_E/%252e%252e/%252e%252e/outside/secret.txt",
      "/httpstream/x/DISK_E/a.txt%00.jpg",
      "/httpstream/x/DISK_E/..%5c..%5coutside%5csecret.txt",
      "/httpstream/x/DISK_E/..\\..\\outside\\secret.txt",
      "/httpstream/x/DISK_E/escape/secret.txt",
      "/httpstream/x/DISK_E/secret-link.txt",
      "/httpstream/%2e%2e/%2e%2e/outside/secret.txt",
      "/httpstream/x/%2e%2e/outside/secret.txt",
      // Overlong and mixed forms of "." and "/" are plain bytes on this side.
      "/httpstream/x/DISK_E/%c0%ae%c0%ae/%c0%ae%c0%ae/outside/secret.txt",
      "/httpstream/x/DISK_E/..%c0%af..%c0%afoutside%c0%afsecret.txt",
      "/httpstream/x/DISK_E/.%2e/.%2E%5c../outside/secret.txt",
      "/httpstream/x/DISK_E/%2e%2e%2f%2e%2e%5coutside/secret.txt",
      "/httpstream/x/DISK_E/escape%2fsecret.txt",
      "/httpstream/x/DISK_E/escape/",
  };
  for (const char* path : corpus) {
    CurlResult result = Get(path);
    EXPECT_THAT(result.output, Not(HasSubstr("TOP-SECRET"))) << path;
    EXPECT_THAT(result.output, Not(HasSubstr("root:"))) << path;
    EXPECT_THAT(result.output, Not(StartsWith("HTTP/1.1 200"))) << path;
    CurlResult propfind = Get(path, "-X PROPFIND");
    EXPECT_THAT(propfind.output, Not(StartsWith("HTTP/1.1 207"))) << path;
  }
  // Links that stay inside the share still work.
  EXPECT_EQ(Body(Get("/httpstream/x/DISK_E/sub/inner-link.txt")), "inside");
  EXPECT_EQ(Body(Get("/httpstream/x/DISK_E/sub/../a.txt")), "inside");
}

// The library swaps a folder for its index file and a missing file for its
// ".gz" sibling; those are checked like the path that was asked for.
TEST_F(HttpServerTest, IndexFilesAndGzipSiblingsNeverLeaveTheShare) {
  WriteFile(outside_ + "/index.html", "TOP-SECRET index");
  for (const char* folder : {"/idx-html", "/idx-htm", "/idx-both"})
    fs::create_directory(share_ + folder);
  fs::create_symlink(outside_ + "/index.html", share_ + "/idx-html/index.html");
  fs::create_symlink(outside_ + "/index.html", share_ + "/idx-htm/index.htm");
  WriteFile(share_ + "/idx-both/index.html", "own index");  // found first, so served
  fs::create_symlink(outside_ + "/index.html", share_ + "/idx-both/index.htm");
  fs::create_symlink(outside_ + "/secret.txt", share_ + "/notes.txt.gz");
  WriteFile(share_ + "/packed.txt.gz", "gzip bytes");

  // An index file that leads out of the share is no index file: the folder
  // is listed instead, without it.
  for (const char* path : {"/httpstream/x/DISK_E/idx-html/", "/httpstream/x/DISK_E/idx-htm/"}) {
    for (const char* method : {"-X GET", "-I", "-X PROPFIND"}) {
      CurlResult result = Get(path, std::string(method) + " --max-time 5");
      EXPECT_EQ(result.exit_code, 0) << method << " " << path;
      EXPECT_THAT(result.output, Not(HasSubstr("TOP-SECRET"))) << method << " " << path;
      EXPECT_THAT(result.output, Not(HasSubstr("index.htm"))) << method << " " << path;
    }
  }
  CurlResult packed = Get("/httpstream/x/DISK_E/notes.txt", "-H 'Accept-Encoding: gzip'");
  EXPECT_THAT(packed.output, StartsWith("HTTP/1.1 404"));
  EXPECT_THAT(packed.output, Not(HasSubstr("TOP-SECRET")));

  EXPECT_EQ(Body(Get("/httpstream/x/DISK_E/idx-both/")), "own index");
  CurlResult own = Get("/httpstream/x/DISK_E/packed.txt", "-H 'Accept-Encoding: gzip'");
  EXPECT_THAT(own.output, HasSubstr("Content-Encoding: gzip\r\n"));
  EXPECT_EQ(Body(own), "gzip bytes");
}

// The library reads the first range only, and mends none past the end of the
// file: its negative or one-too-long Content-Length breaks the framing.
TEST_F(HttpServerTest, RangesPastTheEndAreRefusedOrClamped) {
  std::string data(1000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('a' + i % 26);
  WriteFile(share_ + "/data.bin", data);
  WriteFile(share_ + "/empty.bin", "");
  const std::string file = "/httpstream/x/DISK_E/data.bin";
  for (const char* range : {"bytes=1000-", "bytes=5000-", "bytes=5000-6000",
                            "bytes=9223372036854775807-", "bytes=99999999999999999999-"}) {
    CurlResult result = Get(file, std::string("-H 'Range: ") + range + "'");
    EXPECT_THAT(result.output, StartsWith("HTTP/1.1 416 Range Not Satisfiable\r\n")) << range;
    EXPECT_THAT(result.output, HasSubstr("Content-Range: bytes */1000\r\n")) << range;
  }
  EXPECT_THAT(Get("/httpstream/x/DISK_E/empty.bin", "-H 'Range: bytes=0-'").output,
              StartsWith("HTTP/1.1 416"));

  for (const char* range : {"bytes=990-1000", "bytes=990-99999999999999", "bytes=-10"}) {
    CurlResult result = Get(file, std::string("-H 'Range: ") + range + "'");
    EXPECT_EQ(result.exit_code, 0) << range;  // curl: the body matched its length
    EXPECT_THAT(result.output, StartsWith("HTTP/1.1 206 Partial Content\r\n")) << range;
    EXPECT_THAT(result.output, HasSubstr("Content-Range: bytes 990-999/1000\r\n")) << range;
    EXPECT_THAT(result.output, HasSubstr("Content-Length: 10\r\n")) << range;
    EXPECT_EQ(Body(result), data.substr(990)) << range;
  }
  // Overlapping ranges are not multiplied, and a reversed one voids the
  // header: the whole file.
  for (const char* range : {"bytes=0-1,0-999,0-999,0-999", "bytes=500-100"}) {
    CurlResult result = Get(file, std::string("-H 'Range: ") + range + "'");
    EXPECT_THAT(result.output, StartsWith("HTTP/1.1 200 OK\r\n")) << range;
    EXPECT_EQ(Body(result), data) << range;
  }
  // Several ranges: one multipart answer, each part framed with its range.
  CurlResult parts = Get(file, "-H 'Range: bytes=0-4,-3'");
  EXPECT_EQ(parts.exit_code, 0);
  EXPECT_THAT(parts.output, StartsWith("HTTP/1.1 206 Partial Content\r\n"));
  const std::size_t type = parts.output.find("multipart/byteranges; boundary=");
  ASSERT_NE(type, std::string::npos);
  const std::size_t boundary_at = type + std::strlen("multipart/byteranges; boundary=");
  const std::string boundary =
      parts.output.substr(boundary_at, parts.output.find("\r\n", boundary_at) - boundary_at);
  EXPECT_EQ(Body(parts), "\r\n--" + boundary +
                             "\r\nContent-Type: application/octet-stream\r\n"
                             "Content-Range: bytes 0-4/1000\r\n\r\nabcde\r\n--" +
                             boundary +
                             "\r\nContent-Type: application/octet-stream\r\n"
                             "Content-Range: bytes 997-999/1000\r\n\r\njkl\r\n--" +
                             boundary + "--\r\n");

  // A guarded folder challenges first; a 416 would tell the file's size.
  fs::create_directories(share_ + "/private");
  WriteFile(share_ + "/private/.htpasswd", "user:mydomain.com:0123456789abcdef0123456789abcdef\n");
  WriteFile(share_ + "/private/doc.txt", "hidden");
  CurlResult guarded = Get("/httpstream/x/DISK_E/private/doc.txt", "-H 'Range: bytes=5000-'");
  EXPECT_THAT(guarded.output, StartsWith("HTTP/1.1 401"));
  EXPECT_THAT(guarded.output, Not(HasSubstr("bytes */")));
}

// A FIFO in the share would hold a worker in open() until a writer came,
// and StopHttpServer waits for every worker.
TEST_F(HttpServerTest, SpecialFilesAreNotOpened) {
  const std::string pipe = share_ + "/pipe";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  fs::create_directory(share_ + "/fifo-index");
  ASSERT_EQ(mkfifo((share_ + "/fifo-index/index.html").c_str(), 0600), 0);
  for (const char* method : {"-X GET", "-I"}) {
    CurlResult result = Get("/httpstream/x/DISK_E/pipe", std::string(method) + " --max-time 3");
    EXPECT_EQ(result.exit_code, 0) << method;
    EXPECT_THAT(result.output, StartsWith("HTTP/1.1 404")) << method;
    // A pipe as index file: the folder is listed, without it.
    result = Get("/httpstream/x/DISK_E/fifo-index/", std::string(method) + " --max-time 3");
    EXPECT_EQ(result.exit_code, 0) << method;
    EXPECT_THAT(result.output, StartsWith("HTTP/1.1 200")) << method;
    EXPECT_THAT(result.output, Not(HasSubstr("index.html"))) << method;
  }
  // Nor listed: a client would only get 404 for them.
  EXPECT_THAT(Get("/httpstream/x/DISK_E/", "-X PROPFIND -H 'Depth: 1'").output,
              Not(HasSubstr("/DISK_E/pipe</d:href>")));
  EXPECT_THAT(Get("/httpstream/x/DISK_E/").output, Not(HasSubstr("pipe")));
  // Release any worker a failure left waiting, so the server can stop.
  for (const std::string& fifo : {pipe, share_ + "/fifo-index/index.html"}) {
    for (int i = 0; i < 4; ++i) {
      int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) close(fd);
    }
  }
}

TEST_F(HttpServerTest, NothingCanBeWrittenOrDeleted) {
  WriteFile(share_ + "/a.txt", "keep me");
  for (const char* method : {"PUT", "DELETE", "MKCOL"}) {
    CurlResult result = Get("/httpstream/x/DISK_E/a.txt", std::string("-X ") + method + " -d new");
    EXPECT_THAT(result.output, StartsWith("HTTP/1.1 401 Unauthorized\r\n")) << method;
    EXPECT_THAT(result.output, HasSubstr("WWW-Authenticate: Digest qop=\"auth\", "
                                         "realm=\"mydomain.com\", nonce=\""))
        << method;
  }
  EXPECT_EQ(ReadFile(share_ + "/a.txt"), "keep me");
  EXPECT_FALSE(fs::exists(share_ + "/b.txt"));
}

TEST_F(HttpServerTest, ScriptsAreServedAsPlainFiles) {
  const std::string cgi = "#!/bin/sh\necho Content-Type: text/plain\necho\necho RAN-AS-CGI\n";
  const std::string shtml = "<html><!--#exec cmd=\"echo RAN-AS-SSI\" --></html>";
  fs::create_directories(share_ + "/site");
  WriteFile(share_ + "/site/index.cgi", cgi);
  WriteFile(share_ + "/site/page.shtml", shtml);
  WriteFile(share_ + "/site/index.php", "<?php echo 'RAN-AS-PHP'; ?>");
  fs::permissions(share_ + "/site/index.cgi", fs::perms::owner_all);

  EXPECT_EQ(Body(Get("/httpstream/x/DISK_E/site/index.cgi")), cgi);
  EXPECT_EQ(Body(Get("/httpstream/x/DISK_E/site/page.shtml")), shtml);
  // No script is an index file: the folder is listed.
  CurlResult listing = Get("/httpstream/x/DISK_E/site/");
  EXPECT_THAT(listing.output, HasSubstr("index.cgi"));
  EXPECT_THAT(listing.output, Not(HasSubstr("RAN-AS-")));
}

TEST_F(HttpServerTest, PasswordFileGuardsItsFolder) {
  fs::create_directories(share_ + "/private");
  WriteFile(share_ + "/private/.htpasswd", "user:mydomain.com:0123456789abcdef0123456789abcdef\n");
  WriteFile(share_ + "/private/doc.txt", "hidden");
  EXPECT_THAT(Get("/httpstream/x/DISK_E/private/doc.txt").output, StartsWith("HTTP/1.1 401"));
  EXPECT_THAT(Get("/httpstream/x/DISK_E/private/", "-X PROPFIND").output,
              StartsWith("HTTP/1.1 401"));
  EXPECT_THAT(Get("/httpstream/x/DISK_E/private/.htpasswd").output, Not(HasSubstr("user:")));
  CurlResult listing = Get("/httpstream/x/DISK_E/", "-X PROPFIND -H 'Depth: 1'");
  EXPECT_THAT(listing.output, Not(HasSubstr(".htpasswd")));
}

TEST_F(HttpServerTest, StopEndsADownloadInProgress) {
  const std::string big = share_ + "/big.bin";
  {
    std::FILE* file = std::fopen(big.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(ftruncate(fileno(file), 256LL << 20), 0);  // sparse, 256 MiB
    std::fclose(file);
  }
  const std::string out = temp_ + "/partial.bin";
  std::thread client(
      [&] { RunCurl("--limit-rate 2M -o '" + out + "' " + Url("/httpstream/x/DISK_E/big.bin")); });
  for (int i = 0; i < 100 && (!fs::exists(out) || fs::file_size(out) == 0); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  server_.StopHttpServer();
  EXPECT_FALSE(server_.Running());
  client.join();
  EXPECT_GT(fs::file_size(out), 0u);
  EXPECT_LT(fs::file_size(out), 256ull << 20);
}

// What a listing shows, a client can fetch: rclone copies a share by
// listing it and fetching every entry.
TEST_F(HttpServerTest, ListingsShowOnlyWhatCanBeFetched) {
  WriteFile(share_ + "/a.txt", "inside");
  WriteFile(share_ + "/<b>&.txt", "odd name");
  fs::create_directory(share_ + "/sub");
  fs::create_directory_symlink(outside_, share_ + "/escape");
  fs::create_symlink(outside_ + "/secret.txt", share_ + "/secret-link.txt");
  fs::create_symlink(share_ + "/a.txt", share_ + "/inner-link.txt");
  fs::create_symlink(share_ + "/nowhere", share_ + "/dangling");
  ASSERT_EQ(mkfifo((share_ + "/pipe").c_str(), 0600), 0);
  WriteFile(share_ + "/quarno.html.bak", "answered by the status request instead");

  const std::string page = Get("/httpstream/x/DISK_E/").output;
  CurlResult propfind = Get("/httpstream/x/DISK_E/", "-X PROPFIND -H 'Depth: 1'");
  for (const std::string& listing : {page, propfind.output}) {
    for (const char* hidden :
         {"escape", "secret", "dangling", "pipe", "quarno.html", "TOP-SECRET"}) {
      EXPECT_THAT(listing, Not(HasSubstr(hidden))) << hidden;
    }
    EXPECT_THAT(listing, HasSubstr("inner-link.txt"));
    EXPECT_THAT(listing, HasSubstr("sub"));
  }
  EXPECT_THAT(page, HasSubstr("&lt;b&gt;&amp;.txt"));
  EXPECT_THAT(page, Not(HasSubstr("<b>")));
  EXPECT_THAT(page, HasSubstr("Content-Type: text/html; charset=utf-8"));
  // Every href of the multistatus answers 200 (folders with their slash).
  std::size_t at = 0;
  int fetched = 0;
  while ((at = propfind.output.find("<d:href>", at)) != std::string::npos) {
    at += 8;
    const std::string href = propfind.output.substr(at, propfind.output.find('<', at) - at);
    EXPECT_THAT(Get(href, "-o /dev/null -w '%{http_code}'").output, HasSubstr("200")) << href;
    ++fetched;
  }
  EXPECT_EQ(fetched, 5);  // the folder, a.txt, <b>&.txt, sub/, inner-link.txt
}

// A folder swapped for a link to elsewhere while requests run: the open
// itself refuses the link, there is no moment between a check and the open.
TEST_F(HttpServerTest, LinkSwappedInIsNeverFollowed) {
  const std::string real = share_ + "/docs";
  const std::string parked = share_ + "/docs-real";
  fs::create_directory(real);
  WriteFile(real + "/secret.txt", "public");
  fs::create_directory_symlink(outside_, share_ + "/docs-link");
  std::atomic<bool> done{false};
  std::thread flipper([&] {
    for (int i = 0; i < 100000 && !done; ++i) {
      rename(real.c_str(), parked.c_str());
      rename((share_ + "/docs-link").c_str(), real.c_str());
      rename(real.c_str(), (share_ + "/docs-link").c_str());
      rename(parked.c_str(), real.c_str());
    }
  });
  std::string seen;
  for (int i = 0; i < 20 && seen.find("TOP-SECRET") == std::string::npos; ++i) {
    std::string urls;
    for (int j = 0; j < 50; ++j) urls += " " + Url("/httpstream/x/DISK_E/docs/secret.txt");
    seen += RunCurl("-s -H 'Connection: keep-alive'" + urls).output;
  }
  done = true;
  flipper.join();
  EXPECT_THAT(seen, HasSubstr("public"));
  EXPECT_THAT(seen, Not(HasSubstr("TOP-SECRET")));
}

TEST_F(HttpServerTest, ValidatorsInsteadOfAnHourOfCaching) {
  WriteFile(share_ + "/a.txt", "first");
  const std::string file = "/httpstream/x/DISK_E/a.txt";
  CurlResult first = Get(file);
  CurlResult page = Get("/httpstream/x/DISK_E/");
  for (const std::string& answer : {first.output, page.output}) {
    EXPECT_THAT(answer, Not(HasSubstr("max-age=3600")));
    EXPECT_THAT(answer, HasSubstr("Cache-Control: no-cache\r\n"));
  }
  const std::size_t at = first.output.find("ETag: ");
  ASSERT_NE(at, std::string::npos);
  const std::string etag = first.output.substr(at + 6, first.output.find("\r\n", at) - at - 6);
  const std::size_t lm = first.output.find("Last-Modified: ");
  ASSERT_NE(lm, std::string::npos);
  const std::string modified =
      first.output.substr(lm + 15, first.output.find("\r\n", lm) - lm - 15);

  CurlResult same = Get(file, "-H 'If-None-Match: " + etag + "'");
  EXPECT_THAT(same.output, StartsWith("HTTP/1.1 304 Not Modified\r\n"));
  EXPECT_EQ(Body(same), "");
  EXPECT_THAT(Get(file, "-H 'If-Modified-Since: " + modified + "'").output,
              StartsWith("HTTP/1.1 304"));
  // A stale If-Range gets the whole new file, not a piece of it.
  WriteFile(share_ + "/a.txt", "second version");
  fs::last_write_time(share_ + "/a.txt",
                      fs::last_write_time(share_ + "/a.txt") + std::chrono::hours(1));
  CurlResult changed = Get(file, "-H 'If-None-Match: " + etag + "'");
  EXPECT_THAT(changed.output, StartsWith("HTTP/1.1 200 OK\r\n"));
  EXPECT_EQ(Body(changed), "second version");
  CurlResult range = Get(file, "-H 'Range: bytes=0-1' -H 'If-Range: " + etag + "'");
  EXPECT_EQ(Body(range), "second version");
}

TEST_F(HttpServerTest, RequestFormsTheLibraryGotWrong) {
  WriteFile(share_ + "/a.txt", "inside");
  // The prefix is cut before repeated slashes are removed.
  EXPECT_EQ(Body(Get("/httpstream//DISK_E/a.txt")), "inside");
  EXPECT_EQ(Body(Get("/httpstream/x/DISK_E//a.txt")), "inside");
  // A password file is refused by name, wherever it is asked for.
  for (const char* path : {"/httpstream/x/DISK_E/.htpasswd", "/httpstream/x/DISK_E/x/.htpasswd"}) {
    EXPECT_THAT(Get(path).output, StartsWith("HTTP/1.1 403 Forbidden\r\n")) << path;
  }
  // Every write method gets the challenge nobody can answer, byte for byte.
  for (const char* method : {"PUT", "DELETE", "MOVE", "COPY", "PROPPATCH", "LOCK"}) {
    const std::string answer =
        Get("/httpstream/x/DISK_E/a.txt",
            std::string("-X ") + method + " -H 'Destination: /httpstream/x/DISK_E/b.txt'")
            .output;
    EXPECT_THAT(answer, ::testing::MatchesRegex(
                            "HTTP/1\\.1 401 Unauthorized\r\nContent-Length: 0\r\n"
                            "WWW-Authenticate: Digest qop=\"auth\", realm=\"mydomain\\.com\", "
                            "nonce=\"[0-9]+\"\r\n\r\n"))
        << method;
  }
  EXPECT_TRUE(fs::exists(share_ + "/a.txt"));
  EXPECT_FALSE(fs::exists(share_ + "/b.txt"));
}

// Large bodies leave through sendfile; every byte must still be the file's.
TEST_F(HttpServerTest, LargeFilesAndRangesArriveIntact) {
  std::string data(6 << 20, '\0');
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>((i * 7 + i / 4096) & 0xFF);
  WriteFile(share_ + "/large.bin", data);
  const std::string file = "/httpstream/x/DISK_E/large.bin";
  const std::string whole = temp_ + "/whole.bin";
  EXPECT_EQ(RunCurl("-o '" + whole + "' " + Url(file)).exit_code, 0);
  EXPECT_TRUE(ReadFile(whole) == data);
  CurlResult range = Get(file, "-H 'Range: bytes=1000-5243879'");
  EXPECT_THAT(range.output, HasSubstr("Content-Range: bytes 1000-5243879/6291456\r\n"));
  EXPECT_TRUE(Body(range) == data.substr(1000, 5242880));
}

// quarno-ftpd starts and stops the server from its control channel (codes
// 190, 191) while requests may be in flight; any thread may ask.
TEST(HttpServerStart, ConcurrentStartsAndStopsLeaveOneServerOrNone) {
  char pattern[] = "/tmp/quarno-httpd-race-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string root = pattern;
  quarno::httpd::HttpServer server;
  std::atomic<int> started{0}, winning_port{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&] {
      quarno::httpd::HttpServerOptions options;
      options.listen_address = "127.0.0.1";
      options.port_text = std::to_string(FreeLoopbackPort());
      options.document_root = root;
      options.num_threads = 2;
      std::string failure;
      if (server.StartHttpServer(options, &failure)) {
        ++started;
        winning_port = std::stoi(options.port_text);
      } else {
        EXPECT_EQ(failure, quarno::httpd::kStartFailedText);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  threads.clear();
  ASSERT_EQ(started, 1);
  ASSERT_TRUE(server.Running());

  std::atomic<bool> done{false};
  std::thread client([&] {
    while (!done) {
      int fd = socket(AF_INET, SOCK_STREAM, 0);
      timeval timeout{1, 0};
      setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      address.sin_port = htons(static_cast<std::uint16_t>(winning_port.load()));
      if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const char request[] = "GET /httpstream/x/ HTTP/1.0\r\n\r\n";
        (void)!send(fd, request, sizeof request - 1, MSG_NOSIGNAL);
        char buffer[4096];
        while (recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      close(fd);
    }
  });
  for (int i = 0; i < 4; ++i) threads.emplace_back([&] { server.StopHttpServer(); });
  for (int i = 0; i < 4; ++i) threads.emplace_back([&] { server.Running(); });
  for (std::thread& thread : threads) thread.join();
  EXPECT_FALSE(server.Running());

  // 191 then 190: the same port again, straight away.
  quarno::httpd::HttpServerOptions options;
  options.listen_address = "127.0.0.1";
  options.port_text = std::to_string(winning_port.load());
  options.document_root = root;
  options.num_threads = 2;
  std::string failure;
  EXPECT_TRUE(server.StartHttpServer(options, &failure)) << failure;
  done = true;
  client.join();
  server.StopHttpServer();
  fs::remove_all(root);
}

// Start failures are the caller's to show; the program then ends with code 1.
void StartOrExit(const quarno::httpd::HttpServerOptions& options) {
  quarno::httpd::HttpServer server;
  std::string failure;
  if (!server.StartHttpServer(options, &failure)) {
    std::fprintf(stderr, "%s: %s\n", quarno::httpd::kStartFailureCaption, failure.c_str());
    std::exit(1);
  }
  server.StopHttpServer();
  std::exit(0);
}

TEST(HttpServerStart, FailuresEndTheProgramWithTheirMessage) {
  char pattern[] = "/tmp/quarno-httpd-start-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string root = pattern;
  // Another program holds the port.
  int holder = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(holder, 1), 0);
  socklen_t length = sizeof address;
  getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length);

  quarno::httpd::HttpServerOptions options;
  options.listen_address = "127.0.0.1";
  options.port_text = std::to_string(ntohs(address.sin_port));
  options.document_root = root;
  EXPECT_EXIT(
      StartOrExit(options), ::testing::ExitedWithCode(1),
      "Error: Failed to start Mongoose\\. Maybe some options are assigned bad values\\?\n"
      "Try to run with '-e error_log\\.txt' and check error_log\\.txt for more information\\.");
  close(holder);
  // So does a second server of this program: its loops share a port among
  // themselves, never with another server.
  {
    options.port_text = std::to_string(FreeLoopbackPort());
    options.num_threads = 2;
    quarno::httpd::HttpServer first, second;
    std::string failure;
    ASSERT_TRUE(first.StartHttpServer(options, &failure)) << failure;
    EXPECT_FALSE(second.StartHttpServer(options, &failure));
    EXPECT_EQ(failure, quarno::httpd::kStartFailedText);
  }

  options.port_text = std::to_string(FreeLoopbackPort());
  options.document_root = root + "/missing";
  EXPECT_EXIT(
      StartOrExit(options), ::testing::ExitedWithCode(1),
      "Error: Invalid root directory: \\[" + root + "/missing\\]: No such file or directory");
  WriteFile(root + "/file", "");
  options.document_root = root + "/file";
  EXPECT_EXIT(StartOrExit(options), ::testing::ExitedWithCode(1), "Not a directory");

  options.document_root = root;
  for (const char* bad : {"", "0", "65536", "80a", "8080s", "1,2"}) {
    options.port_text = bad;
    std::string failure;
    quarno::httpd::HttpServer server;
    EXPECT_FALSE(server.StartHttpServer(options, &failure)) << bad;
    EXPECT_EQ(failure, quarno::httpd::kStartFailedText);
  }
  options.port_text = std::to_string(FreeLoopbackPort());
  EXPECT_EXIT(StartOrExit(options), ::testing::ExitedWithCode(0), "");
  fs::remove_all(root);
}

// The server keeps a share open between requests: a link pointed elsewhere
// is followed at the next request, and a share left alone is let go, so its
// disk can be unmounted and a folder moved away is no longer served.
TEST_F(HttpServerTest, AKeptShareFollowsItsLinkAndIsLetGo) {
  const std::string other = temp_ + "/other";
  fs::create_directories(other);
  WriteFile(share_ + "/a.txt", "one");
  WriteFile(other + "/a.txt", "two");
  const std::string file = "/httpstream/x/DISK_E/a.txt";
  // Several requests, so both of the server's threads have kept the share.
  for (int i = 0; i < 4; ++i) ASSERT_EQ(Body(Get(file)), "one");

  // As the program changes a share: a new link renamed over the old one.
  fs::create_directory_symlink(other, home_ + "/DISK_E.new");
  fs::rename(home_ + "/DISK_E.new", home_ + "/DISK_E");
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Body(Get(file)), "two") << i;
  fs::remove(home_ + "/DISK_E");
  for (int i = 0; i < 4; ++i) EXPECT_THAT(Get(file).output, StartsWith("HTTP/1.1 404")) << i;

  fs::create_directory_symlink(share_, home_ + "/DISK_E");
  for (int i = 0; i < 4; ++i) ASSERT_EQ(Body(Get(file)), "one");
  const std::string moved = temp_ + "/moved";
  fs::rename(share_, moved);
  const auto held = [&] {
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
      std::error_code ignored;
      if (fs::read_symlink(fd.path(), ignored) == moved) return true;
    }
    return false;
  };
  bool let_go = false;
  for (int i = 0; i < 40 && !let_go; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    let_go = !held();
  }
  EXPECT_TRUE(let_go) << "the moved share is still open after 4 s";
  EXPECT_THAT(Get(file).output, StartsWith("HTTP/1.1 404"));
  fs::rename(moved, share_);
}

}  // namespace
