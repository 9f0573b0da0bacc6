// RawHttpExchange against scripted peers on loopback.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "core/netprobe.h"
#include "support/loopback_peer.h"

namespace quarno {
namespace {

using std::chrono::milliseconds;
using test::LoopbackPeer;

const std::string kRequest = "GET /checkup HTTP/1.1\r\nHost: 127.0.0.2\r\n\r\n";

RawHttpOptions Fast(const LoopbackPeer& peer, int receive_ms = 300) {
  RawHttpOptions options;
  options.port = peer.port();
  options.connect_timeout = milliseconds(1000);
  options.receive_timeout = milliseconds(receive_ms);
  return options;
}

std::string Answer(size_t size) {
  std::string body;
  for (size_t i = 0; body.size() < size; ++i) body += static_cast<char>('A' + i % 26);
  return body;
}

TEST(RawHttpExchange, AnswerOf700BytesArrivesWhole) {
  for (bool split : {false, true}) {
    LoopbackPeer peer("127.0.0.2");
    const std::string answer = Answer(700);
    peer.ReadUntil("\r\n\r\n");
    if (split) {
      peer.Send(answer.substr(0, 400)).Sleep(50).Send(answer.substr(400));
    } else {
      peer.Send(answer);  // 512 in the first receive, 188 in the second
    }
    peer.Close().Start();
    std::string response;
    ASSERT_EQ(RawHttpExchange(peer.address(), kRequest, response, Fast(peer)), 0) << split;
    EXPECT_EQ(response, answer) << split;
    peer.WaitDone();
    EXPECT_EQ(peer.Received(), kRequest);
  }
}

TEST(RawHttpExchange, AtMostTwoChunksOf512) {
  LoopbackPeer peer("127.0.0.3");
  const std::string answer = Answer(1500);
  peer.Read().Send(answer).Hold().Start();
  std::string response;
  ASSERT_EQ(RawHttpExchange(peer.address(), kRequest, response, Fast(peer)), 0);
  EXPECT_EQ(response, answer.substr(0, 1024));
}

TEST(RawHttpExchange, OneChunkAndPeerKeepsConnectionOpen) {
  // The peek waits its full time-out, then the first chunk is the answer.
  LoopbackPeer peer("127.0.0.2");
  peer.Read().Send("HTTP/1.0 200 OK\r\n\r\nok").Hold().Start();
  std::string response;
  ASSERT_EQ(RawHttpExchange(peer.address(), kRequest, response, Fast(peer, 200)), 0);
  EXPECT_EQ(response, "HTTP/1.0 200 OK\r\n\r\nok");
}

TEST(RawHttpExchange, SilentPeerFailsAfterReceiveTimeout) {
  LoopbackPeer peer("127.0.0.2");
  peer.Hold().Start();
  std::string response = "untouched";
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RawHttpExchange(peer.address(), kRequest, response, Fast(peer, 250)), -1);
  EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(240));
  EXPECT_EQ(response, "untouched");
  EXPECT_EQ(peer.Received(), kRequest);
}

TEST(RawHttpExchange, PeerThatClosesOrResetsWithoutAnswerFails) {
  for (bool reset : {false, true}) {
    LoopbackPeer peer("127.0.0.2");
    peer.Read();
    if (reset) {
      peer.Reset();
    } else {
      peer.Close();
    }
    peer.Start();
    std::string response = "untouched";
    EXPECT_EQ(RawHttpExchange(peer.address(), kRequest, response, Fast(peer, 2000)), -1) << reset;
    EXPECT_EQ(response, "untouched");
  }
}

TEST(RawHttpExchange, RefusedConnectionFails) {
  // A port that was just bound and released has no listener.
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  inet_pton(AF_INET, "127.0.0.4", &a.sin_addr);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  RawHttpOptions options;
  options.port = ntohs(a.sin_port);
  options.connect_timeout = milliseconds(1000);
  std::string response;
  EXPECT_EQ(RawHttpExchange("127.0.0.4", kRequest, response, options), -1);
}

TEST(RawHttpExchange, RequestLimitIs512BytesAndNothingLongerIsSent) {
  LoopbackPeer peer("127.0.0.2");
  peer.ReadAll().Start();
  std::string response;
  EXPECT_EQ(RawHttpExchange(peer.address(), std::string(513, 'x'), response, Fast(peer)), -1);
  EXPECT_EQ(peer.accepted(), 0);  // not even a connection

  LoopbackPeer exact("127.0.0.2");
  const std::string request = "GET /" + std::string(512 - 9, 'y') + "\r\n\r\n";
  ASSERT_EQ(request.size(), 512u);
  exact.ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\n").Close().Start();
  EXPECT_EQ(RawHttpExchange(exact.address(), request, response, Fast(exact)), 0);
  exact.WaitDone();
  EXPECT_EQ(exact.Received(), request);
}

TEST(RawHttpExchange, ConnectTimeoutWhenPeerNeverAccepts) {
  // A listener with a full accept queue drops further SYNs, so the connect hangs.
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  inet_pton(AF_INET, "127.0.0.5", &a.sin_addr);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(listen(fd, 0), 0);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) {
    int c = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
    fillers.push_back(c);
  }
  usleep(50000);
  RawHttpOptions options;
  options.port = ntohs(a.sin_port);
  options.connect_timeout = milliseconds(300);
  options.receive_timeout = milliseconds(20000);
  std::string response = "untouched";
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RawHttpExchange("127.0.0.5", kRequest, response, options), -1);
  // It gave up while connecting, not while waiting for an answer.
  EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(15000));
  EXPECT_EQ(response, "untouched");
  for (int c : fillers) close(c);
  close(fd);
}

TEST(RawHttpExchange, DefaultPortIs80) {
  if (geteuid() != 0) GTEST_SKIP() << "binding port 80 on 127.0.0.6 needs root";
  LoopbackPeer peer("127.0.0.6", 80);
  peer.Read().Send("HTTP/1.0 200 OK\r\n\r\n").Close().Start();
  std::string response;
  ASSERT_EQ(RawHttpExchange("127.0.0.6", kRequest, response), 0);
  EXPECT_EQ(response, "HTTP/1.0 200 OK\r\n\r\n");
}

}  // namespace
}  // namespace quarno
