// An attacker's second look: races between a command and its data
// connection, special files in the share, rights that only allow appending.
#include <sys/stat.h>

#include <filesystem>

#include "ftpd_fixture.h"

namespace fs = std::filesystem;

namespace {

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  size_t at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

}  // namespace

// STOR opens its file only once the data connection stands. Meanwhile a
// second session swaps a folder for one holding a link out of the share;
// the upload must not follow it.
TEST_F(FtpdTest, UploadDoesNotFollowALinkSwappedInBeforeTheDataConnection) {
  fs::create_directories(share_ + "/music");
  fs::create_directory_symlink(outside_, share_ + "/music/lib");
  RunResult r = Python(R"(
f = login()
f.mkd('/DISK_E/x')
f.mkd('/DISK_E/x/lib')
f.voidcmd('TYPE I')
host, port = ftplib.parse227(f.sendcmd('PASV'))
f.sock.sendall(b'STOR /DISK_E/x/lib/planted.txt\r\n')
g = login()
g.rename('/DISK_E/x', '/DISK_E/y')
g.rename('/DISK_E/music', '/DISK_E/x')
g.quit()
d = socket.create_connection((host, port))
try:
    d.sendall(b'owned')
except OSError:
    pass
d.close()
resp = f.getmultiline()
if resp.startswith('150'):
    resp = f.getmultiline()
assert resp.startswith('5'), resp
f.quit()
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_FALSE(fs::exists(outside_ + "/planted.txt"));
}

// A named pipe must not block the one event loop that serves everybody.
TEST_F(FtpdTest, NamedPipeInTheShareIsRefusedWithoutBlocking) {
  ASSERT_EQ(::mkfifo((share_ + "/pipe").c_str(), 0644), 0);
  RunResult r = Python(R"(
import io
f = login()
refused(f.retrbinary, 'RETR /DISK_E/pipe', print, code='550')
refused(f.storbinary, 'STOR /DISK_E/pipe', io.BytesIO(b'x'))
g = login()
assert g.pwd() == '/'
g.quit()
f.quit()
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
}

class FtpdAppendOnly : public FtpdTest {
 protected:
  void SetUp() override {
    FtpdTest::SetUp();
    // Read and append in the share, no writing, deleting or renaming.
    std::string text = ConfigText(ftp_port_, "ftp", "pw");
    for (const char* right : {"FileWrite", "FileDelete", "DirDelete"})
      text = Replace(text, std::string(right) + "\">1<", std::string(right) + "\">0<");
    WriteFile(xdg_->writable() + "/FileZilla Server.xml", text);
    ASSERT_EQ(Control("200\n"), "OK\n");
  }
};

TEST_F(FtpdAppendOnly, ResumeMayExtendButNotRewriteAFile) {
  WriteFile(share_ + "/log.txt", "0123456789");
  RunResult r = Python(R"(
import io
f = login()
refused(f.storbinary, 'STOR /DISK_E/log.txt', io.BytesIO(b'XY'), 8192, None, 2)
refused(f.storbinary, 'STOR /DISK_E/log.txt', io.BytesIO(b'XY'))
f.storbinary('STOR /DISK_E/log.txt', io.BytesIO(b'ab'), 8192, None, 10)
f.storbinary('APPE /DISK_E/log.txt', io.BytesIO(b'cd'))
f.quit()
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(ReadFile(share_ + "/log.txt"), "0123456789abcd");
}

// The account limit is an unsigned 32-bit count; the largest one still
// means "many", not "none".
TEST_F(FtpdTest, LargestUserLimitStillAdmitsUsers) {
  std::string text = Replace(ConfigText(ftp_port_, "ftp", "pw"), "<Option Name=\"User Limit\">0<",
                             "<Option Name=\"User Limit\">4294967295<");
  WriteFile(xdg_->writable() + "/FileZilla Server.xml", text);
  ASSERT_EQ(Control("200\n"), "OK\n");
  RunResult r = Python("login().quit()\n");
  EXPECT_EQ(r.exit_code, 0) << r.output;
}
