// The socket helpers other clients build on: what Recv reports and UDP round trips.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "platform/tcp_socket.h"
#include "support/loopback_peer.h"

namespace quarno::platform {
namespace {

using std::chrono::milliseconds;

TEST(TcpSocket, RecvTellsDataCloseAndTimeoutApart) {
  test::LoopbackPeer peer("127.0.0.2");
  peer.Read().Send("pong").Sleep(300).Close().Start();
  TcpSocket socket;
  EXPECT_FALSE(socket.Connect("localhost", peer.port(), milliseconds(500)));  // no name lookup
  ASSERT_TRUE(socket.Connect(peer.address(), peer.port(), milliseconds(500)));
  ASSERT_TRUE(socket.Send("ping"));
  std::string data;
  EXPECT_EQ(socket.Peek(data, 16, milliseconds(1000)), 4);
  EXPECT_EQ(socket.Recv(data, 2, milliseconds(1000)), 2);
  EXPECT_EQ(data, "po");
  EXPECT_EQ(socket.Recv(data, 16, milliseconds(1000)), 2);
  EXPECT_EQ(socket.Recv(data, 16, milliseconds(50)), -1);  // quiet, not closed
  EXPECT_EQ(data, "ng");
  EXPECT_EQ(socket.Recv(data, 16, milliseconds(2000)), 0);  // closed
  TcpSocket moved = std::move(socket);
  EXPECT_FALSE(socket.IsOpen());
  EXPECT_TRUE(moved.IsOpen());
  moved.Close();
  EXPECT_FALSE(moved.Send("x"));
}

TEST(UdpRequest, AnswerAndTimeout) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  inet_pton(AF_INET, "127.0.0.3", &a.sin_addr);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  std::thread echo([fd] {
    char buffer[256];
    sockaddr_in from{};
    socklen_t from_len = sizeof from;
    ssize_t n =
        recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &from_len);
    if (n > 0)
      sendto(fd, buffer, static_cast<size_t>(n), 0, reinterpret_cast<sockaddr*>(&from), from_len);
  });
  std::string answer;
  EXPECT_EQ(UdpRequest("127.0.0.3", ntohs(a.sin_port), "M-SEARCH", answer, 64, milliseconds(2000)),
            8);
  EXPECT_EQ(answer, "M-SEARCH");
  echo.join();
  answer = "kept";
  EXPECT_EQ(UdpRequest("127.0.0.3", ntohs(a.sin_port), "again", answer, 64, milliseconds(100)), -1);
  EXPECT_EQ(answer, "kept");
  EXPECT_EQ(UdpRequest("not-an-address", 1900, "x", answer, 64, milliseconds(100)), -1);
  close(fd);
  EXPECT_EQ(ResolveIPv4("127.0.0.7"), "127.0.0.7");
  EXPECT_EQ(ResolveIPv4(""), "");
}

TEST(LoopbackPeer, EndsEvenWhenTheClientNeverReads) {
  TcpSocket socket;
  {
    test::LoopbackPeer peer("127.0.0.2");
    peer.Send(std::string(8 << 20, 'x')).Start();  // far more than the socket buffers hold
    ASSERT_TRUE(socket.Connect(peer.address(), peer.port(), milliseconds(1000)));
    std::this_thread::sleep_for(milliseconds(100));
  }  // must return although the send never finished
  SUCCEED();
}

}  // namespace
}  // namespace quarno::platform
