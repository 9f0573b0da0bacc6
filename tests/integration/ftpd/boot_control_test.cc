// What the boot service relies on: the "port closed" file with control code
// 200 takes the FTP port away and logs its users out while the admin port
// stays; and the admin port answers nobody but the daemon's own user.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "core/log.h"
#include "ftpctl/ftp_server.h"
#include "ftpd_fixture.h"

namespace {

// 0 when a connection to 127.0.0.1:port is made, else the errno of connect().
int ConnectError(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int rc = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? 0 : errno;
  close(fd);
  return rc;
}

// Everything up to the next line end, or what came before the end of the
// stream (empty at once when it has ended); 5 s at most.
std::string Reply(int fd) {
  std::string line;
  char c;
  pollfd p{fd, POLLIN, 0};
  while (poll(&p, 1, 5000) > 0 && recv(fd, &c, 1, 0) == 1) {
    line += c;
    if (c == '\n') break;
  }
  return line;
}

}  // namespace

TEST_F(FtpdTest, PortClosedFileClosesTheFtpPortAndKeepsTheAdminPort) {
  // A user logged in under the full file; its session must not outlive the
  // port. (A client in this process: a child would inherit the listener.)
  int user = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(ftp_port_));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(user, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  EXPECT_EQ(Reply(user).substr(0, 3), "220");
  send(user, "USER ftp\r\n", 10, MSG_NOSIGNAL);
  EXPECT_EQ(Reply(user).substr(0, 3), "331");
  send(user, "PASS pw\r\n", 9, MSG_NOSIGNAL);
  EXPECT_EQ(Reply(user).substr(0, 3), "230");
  AdminClient before(admin_port_);
  ASSERT_TRUE(before.ok());

  ASSERT_TRUE(quarno::ftpctl::WriteFtpPortClosedConfig());
  EXPECT_EQ(Control("200\n"), "OK\n");
  EXPECT_EQ(ConnectError(ftp_port_), ECONNREFUSED);
  EXPECT_TRUE(OnLoop([this] { return server_->ftp_ports().empty(); }));
  AdminClient after(admin_port_);  // the file names no admin port: the old one stays
  EXPECT_TRUE(after.ok());
  EXPECT_EQ(OnLoop([this] { return server_->admin_port(); }), admin_port_);
  // The option set tells the admin the port the daemon really listens on.
  quarno::ftpd::Bytes p;
  ASSERT_TRUE(after.Send(5, {}));
  ASSERT_TRUE(after.Expect(1, 5, p));
  quarno::ftpd::GeneralOptions options;
  ASSERT_TRUE(quarno::ftpd::ParseOptions(p.data(), p.size(), options));
  EXPECT_EQ(options.Number(quarno::ftpd::kOptAdminPort), admin_port_);

  // Logged out as going offline does: a 421 line, then the end.
  EXPECT_EQ(Reply(user).substr(0, 4), "421 ");
  EXPECT_EQ(Reply(user), "");
  close(user);

  // An empty list closes the port as well; the full file opens it again.
  WriteFile(xdg_->writable() + "/FileZilla Server.xml", ConfigText(ftp_port_, "ftp", "pw"));
  EXPECT_EQ(Control("200\n"), "OK\n");
  EXPECT_EQ(ConnectError(ftp_port_), 0);
  std::string empty = ConfigText(ftp_port_, "ftp", "pw");
  const std::string ports = "\"string\">" + std::to_string(ftp_port_) + "<";
  empty.replace(empty.find(ports), ports.size(), "\"string\"><");
  WriteFile(xdg_->writable() + "/FileZilla Server.xml", empty);
  EXPECT_EQ(Control("200\n"), "OK\n");
  EXPECT_EQ(ConnectError(ftp_port_), ECONNREFUSED);
  EXPECT_TRUE(AdminClient(admin_port_).ok());
}

TEST_F(FtpdTest, AdminConnectionOfAnotherUserIsClosedWithoutGreeting) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
  CaptureLog(xdg_->root() + "/uid-log");

  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // nobody: connects, then must see the end of the stream and no byte.
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(10);
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(admin_port_));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) _exit(11);
    pollfd pfd{fd, POLLIN, 0};
    if (poll(&pfd, 1, 5000) <= 0) _exit(12);  // left open: the check did not run
    char c;
    ssize_t n = recv(fd, &c, 1, 0);
    _exit(n == 0 ? 0 : n > 0 ? 13 : 14);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "10 setuid, 11 connect, 12 not closed, 13 greeted, 14 reset";

  AdminClient own(admin_port_);  // root's own connection still gets in
  EXPECT_TRUE(own.ok());
  const std::string log = TakeLog();
  EXPECT_NE(log.find("of uid 65534 refused"), std::string::npos) << log;
  EXPECT_EQ(OnLoop([this] { return server_->admin_port(); }), admin_port_);
}
