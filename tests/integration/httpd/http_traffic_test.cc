// What the Internet does to a home server: idle and slow clients, clients
// that keep connections, clients that ask twice. Each case failed before the
// server took over file serving from the library and sized its workers.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "http_fixture.h"

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

std::string Body(const std::string& answer) {
  std::size_t end = answer.find("\r\n\r\n");
  return end == std::string::npos ? "" : answer.substr(end + 4);
}

TEST_F(HttpServerTest, IdleConnectionsDoNotLockOthersOut) {
  WriteFile(share_ + "/a.txt", "answered");
  std::vector<std::unique_ptr<Client>> idle;
  for (int i = 0; i < 200; ++i) {
    idle.push_back(std::make_unique<Client>(port_, "127.0.0.2"));
    ASSERT_TRUE(idle.back()->connected());
  }
  // The library's request time-out is 30 s: a worker held by every idle
  // connection would leave this request waiting far past curl's limit.
  CurlResult result = Get("/httpstream/x/DISK_E/a.txt", "--interface 127.0.0.3 --max-time 10");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(Body(result.output), "answered");
}

// The product's 256 workers and 128 per address, scaled down.
class HttpServerFewWorkers : public HttpServerTest {
 protected:
  HttpServerFewWorkers() {
    num_threads_ = 16;
    connections_per_address_ = 8;
  }
};

TEST_F(HttpServerFewWorkers, OneAddressCannotHoldEveryWorker) {
  WriteFile(share_ + "/a.txt", "answered");
  // More idle connections than workers, all from one address: those past
  // its share are ended, so another address is still answered at once.
  constexpr int kIdle = 24, kShare = 8;
  std::vector<std::unique_ptr<Client>> idle;
  for (int i = 0; i < kIdle; ++i) {
    idle.push_back(std::make_unique<Client>(port_, "127.0.0.2"));
    ASSERT_TRUE(idle.back()->connected());
  }
  auto closed = [&] {
    int count = 0;
    for (auto& client : idle) count += client->ClosedNow() ? 1 : 0;
    return count;
  };
  int seen = 0;
  for (int i = 0; i < 100 && (seen = closed()) < kIdle - kShare; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(seen, kIdle - kShare);
  // The library's request time-out is 30 s: with every worker held this
  // request would wait far past curl's limit.
  CurlResult result = Get("/httpstream/x/DISK_E/a.txt", "--interface 127.0.0.3 --max-time 10");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(Body(result.output), "answered");
  // The address is served again once its connections end.
  idle.clear();
  Client again(port_, "127.0.0.2");
  again.Send("GET /httpstream/x/DISK_E/a.txt HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(Body(again.ReadAnswer()), "answered");
}

TEST_F(HttpServerTest, SlowDownloadsDoNotBlockAnotherClient) {
  const std::string big = share_ + "/big.bin";
  {
    std::FILE* file = std::fopen(big.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(ftruncate(fileno(file), 64LL << 20), 0);
    std::fclose(file);
  }
  WriteFile(share_ + "/a.txt", "answered");
  std::vector<std::thread> slow;
  for (int i = 0; i < 10; ++i) {
    slow.emplace_back([&] {
      RunCurl("--limit-rate 100K --max-time 4 -o /dev/null " + Url("/httpstream/x/DISK_E/big.bin"));
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  CurlResult result = Get("/httpstream/x/DISK_E/a.txt", "--max-time 5");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(Body(result.output), "answered");
  server_.StopHttpServer();  // ends the slow ones (their socket buffers still drain)
  for (std::thread& thread : slow) thread.join();
}

TEST_F(HttpServerTest, KeepAliveOnlyWhenAskedAndAnswersFramed) {
  WriteFile(share_ + "/a.txt", "alpha");
  WriteFile(share_ + "/b.txt", "beta");
  {
    // Asked for: two requests in a row on one connection, both answered.
    Client client(port_);
    client.Send(
        "GET /httpstream/x/DISK_E/a.txt HTTP/1.1\r\nHost: h\r\nConnection: keep-alive\r\n\r\n"
        "GET /httpstream/x/DISK_E/b.txt HTTP/1.1\r\nHost: h\r\nConnection: keep-alive\r\n\r\n");
    std::string first = client.ReadAnswer();
    EXPECT_THAT(first, HasSubstr("Connection: keep-alive\r\n"));
    EXPECT_EQ(Body(first), "alpha");
    EXPECT_EQ(Body(client.ReadAnswer()), "beta");
  }
  {
    // Not asked for (HTTP/1.1 without the header): one answer, then closed.
    Client client(port_);
    client.Send("GET /httpstream/x/DISK_E/a.txt HTTP/1.1\r\nHost: h\r\n\r\n");
    std::string answer = client.ReadAnswer();
    EXPECT_THAT(answer, HasSubstr("Connection: close\r\n"));
    EXPECT_EQ(Body(answer), "alpha");
    EXPECT_TRUE(client.ClosedByServer());
  }
  {
    // The 404 that says keep-alive keeps it.
    Client client(port_);
    client.Send(
        "GET /nothing HTTP/1.1\r\nHost: h\r\nConnection: Keep-Alive\r\n\r\n"
        "GET /httpstream/x/DISK_E/b.txt HTTP/1.1\r\nHost: h\r\nConnection: keep-alive\r\n\r\n");
    EXPECT_THAT(client.ReadAnswer(), HasSubstr("Connection: keep-alive\r\n\r\nError 404"));
    EXPECT_EQ(Body(client.ReadAnswer()), "beta");
  }
  {
    // The status answers say "Close" and close, whatever was asked.
    Client client(port_);
    client.Send("GET /quarno.html HTTP/1.1\r\nHost: h\r\nConnection: keep-alive\r\n\r\n");
    EXPECT_EQ(Body(client.ReadAnswer()), "Ralmek_NAS-AB1122 12ABCD");
    EXPECT_TRUE(client.ClosedByServer());
  }
  {
    // Two lengths for one body: refused, not guessed at.
    Client client(port_);
    client.Send(
        "GET /httpstream/x/DISK_E/a.txt HTTP/1.1\r\nHost: h\r\nContent-Length: 0\r\n"
        "Content-Length: 5\r\n\r\nhello");
    EXPECT_THAT(client.ReadAnswer(), StartsWith("HTTP/1.1 400 "));
  }
}

TEST_F(HttpServerTest, HeadAnswersCarryNoBody) {
  WriteFile(share_ + "/a.txt", "alpha");
  for (const char* path : {"/quarno.html", "/nothing", "/httpstream/x/DISK_E/missing.txt",
                           "/httpstream/x/DISK_E/a.txt", "/httpstream/x/DISK_E/"}) {
    Client client(port_);
    client.Send(std::string("HEAD ") + path + " HTTP/1.1\r\nHost: h\r\n\r\n");
    const std::string answer = client.ReadUntilClosed();
    const std::size_t head_end = answer.find("\r\n\r\n");
    ASSERT_NE(head_end, std::string::npos) << path;
    // Whatever followed the head would be read as the next answer.
    EXPECT_EQ(answer.size(), head_end + 4) << path;
    EXPECT_THAT(answer, Not(HasSubstr("Error 404"))) << path;
    EXPECT_THAT(answer, Not(HasSubstr("Ralmek"))) << path;
  }
}

}  // namespace
