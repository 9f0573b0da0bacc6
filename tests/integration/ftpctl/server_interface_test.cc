#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "admin_peer.h"
#include "core/log.h"
#include "ftpctl/server_interface.h"
#include "support/temp_xdg.h"

namespace quarno::ftpctl {
namespace {

using namespace std::chrono_literals;

std::string Le32(uint32_t v) {
  return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}
std::string Greeting(uint32_t server = 0x00094100, uint32_t protocol = 0x00010D00) {
  return std::string("FZS\x00\x04", 5) + Le32(server) + std::string("\x00\x04", 2) + Le32(protocol);
}
std::string Msg(int type, int id, const std::string& payload) {
  return std::string(1, char(id << 2 | type)) + Le32(uint32_t(payload.size())) + payload;
}
const std::string kAccepted = Msg(1, 0, "");
const std::string kInitialCommands("\x08\x00\x00\x00\x00\x0C\x01\x00\x00\x00\x00\x00", 11);

class AdminClientTest : public testing::Test {
 protected:
  void SetUp() override { ResetLogForTesting(); }
  void TearDown() override { ResetLogForTesting(); }

  // Connects and answers with greeting + acceptance in one piece.
  void Authenticate() {
    std::thread server([&] {
      ASSERT_TRUE(peer.Accept());
      peer.Send(Greeting() + kAccepted);
    });
    EXPECT_EQ(client.SetUp(peer.port(), 2000ms), SetUpResult::kAuthenticated);
    server.join();
    // Commands 2 and 3, then the option request 5.
    EXPECT_EQ(peer.Read(16), kInitialCommands + std::string("\x14\x00\x00\x00\x00", 5));
  }

  std::optional<Message> Next(std::chrono::milliseconds wait = 2000ms) { return sink.Wait(wait); }

  std::string LogText() {
    std::ifstream in(LogFilePath());
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  test::TempXdg xdg;
  QueueSink sink;
  test::AdminPeer peer;
  CServerInterface client{&sink};
};

TEST_F(AdminClientTest, SplitGreetingWithNewerServerVersion) {
  ASSERT_TRUE(client.Connect(peer.port()));
  ASSERT_TRUE(client.StartReceiveThread());
  ASSERT_TRUE(peer.Accept());
  std::string g = Greeting(0x00094200);
  peer.Send(g.substr(0, 2));
  std::this_thread::sleep_for(30ms);
  peer.Send(g.substr(2, 7));
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(client.ConnectionStage(), 1);
  peer.Send(g.substr(9));
  peer.Send(kAccepted);
  ASSERT_TRUE(client.WaitAuthenticated(2000ms));
  EXPECT_EQ(client.ConnectionStage(), 3);
  EXPECT_EQ(peer.Read(11), kInitialCommands);
}

TEST_F(AdminClientTest, AuthenticatedSessionHandlesRepliesAndStatus) {
  Authenticate();

  peer.Send(Msg(2, 2, std::string("\x00\x12", 2)));
  auto m = Next();
  ASSERT_TRUE(m);
  EXPECT_EQ(m->id, WM_FTP_STATE);
  EXPECT_EQ(client.ServerState(), 0x0012);

  // Full list, one entry, empty name.
  std::string list("\x00\x00\x01", 3);
  list += Le32(42) + std::string("\x00\x09", 2) + "127.0.0.1" + std::string(4, '\0') +
          std::string(3, '\0');
  peer.Send(Msg(1, 3, list));
  m = Next();
  ASSERT_TRUE(m);
  EXPECT_EQ(m->id, WM_FTP_CONNECTIONS);
  EXPECT_EQ(m->lparam, reinterpret_cast<std::intptr_t>(&client.Connections()));
  auto rows = client.Connections().Snapshot();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].user_name, "(not logged in)");

  // Name change for an unknown id: posted, list unchanged.
  peer.Send(Msg(2, 3, std::string("\x01\x01", 2) + Le32(7) + std::string("\x00\x01x", 3)));
  m = Next();
  ASSERT_TRUE(m);
  EXPECT_EQ(m->id, WM_FTP_CONNECTIONS);
  EXPECT_EQ(client.Connections().Snapshot()[0].user_name, "(not logged in)");

  // An option-set reply far above 4096 bytes completes.
  CGeneralOption options;
  options.SetText(OPTION_WELCOMEMESSAGE, std::string(20000, 'w'));
  options.SetNumber(OPTION_TIMEOUT, 300);
  auto bytes = *options.Serialize();
  peer.Send(Msg(1, 5, std::string(bytes.begin(), bytes.end())));
  m = Next();
  ASSERT_TRUE(m);
  EXPECT_EQ(m->id, WM_FTP_STATE);
  EXPECT_EQ(client.Options().Text(OPTION_WELCOMEMESSAGE).size(), 20000u);
  EXPECT_EQ(client.Options().Number(OPTION_TIMEOUT), 300);

  // Unknown status ids, other replies and a repeated acceptance are consumed
  // without a post or an answer.
  peer.Send(Msg(2, 9, "zz") + Msg(1, 8, "") + kAccepted + Msg(2, 2, std::string("\x00\x01", 2)));
  m = Next();
  ASSERT_TRUE(m);
  EXPECT_EQ(m->id, WM_FTP_STATE);
  EXPECT_EQ(client.ServerState(), 1);

  EXPECT_TRUE(client.SendKeepAlive());
  EXPECT_EQ(peer.Read(5), std::string("\x20\x00\x00\x00\x00", 5));
  EXPECT_TRUE(client.SendServerState(0x0001));
  EXPECT_EQ(peer.Read(7), std::string("\x08\x02\x00\x00\x00\x00\x01", 7));
  CUserSetting accounts;
  accounts.Append(BuildShareAccount("ftp", "", "/h", "/h/s"));
  auto account_bytes = *SerializeAccounts(accounts);
  EXPECT_TRUE(client.SendAccounts(accounts));
  EXPECT_EQ(peer.Read(5 + account_bytes.size()),
            "\x18" + Le32(uint32_t(account_bytes.size())) +
                std::string(account_bytes.begin(), account_bytes.end()));
}

TEST_F(AdminClientTest, WrongProtocolVersionFailsSetUpAtOnce) {
  std::thread server([&] {
    ASSERT_TRUE(peer.Accept());
    peer.Send(Greeting(0x00094100, 0x00010C00));
  });
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(client.SetUp(peer.port(), 5000ms), SetUpResult::kFailed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 4000ms);
  server.join();
  auto m = Next();
  ASSERT_TRUE(m);
  EXPECT_EQ(m->id, WM_FATAL_START_ERROR);
  EXPECT_EQ(m->wparam, 2u);
  EXPECT_TRUE(peer.ClientClosed());
  EXPECT_NE(LogText().find("protocol version mismatch"), std::string::npos);
}

TEST_F(AdminClientTest, OversizedLengthDropsTheConnectionAndTellsTheOwner) {
  Authenticate();
  peer.Send(std::string("\x05", 1) + Le32(0x01000000));
  auto m = Next();
  ASSERT_TRUE(m);
  EXPECT_EQ(m->id, WM_FTP_STATE);
  EXPECT_TRUE(client.Dropped());
  EXPECT_EQ(client.ServerState(), 0);
  EXPECT_TRUE(peer.ClientClosed());
  EXPECT_FALSE(client.SendKeepAlive());
  EXPECT_NE(LogText().find("invalid data length"), std::string::npos);
}

TEST_F(AdminClientTest, ChallengeIsDroppedNotReparsed) {
  std::thread server([&] {
    ASSERT_TRUE(peer.Accept());
    peer.Send(Greeting() + Msg(0, 0, std::string("\x00\x02" "ab" "\x00\x02" "cd", 8)));
  });
  EXPECT_EQ(client.SetUp(peer.port(), 2000ms), SetUpResult::kNotAuthenticated);
  server.join();
  EXPECT_EQ(client.ConnectionStage(), 2);
  EXPECT_FALSE(Next(100ms));
  EXPECT_EQ(client.BufferedBytesForTesting(), 0u);
  EXPECT_EQ(peer.Read(1, 100), "");  // nothing sent: no option request, no answer
  EXPECT_TRUE(client.IsConnected());
}

TEST_F(AdminClientTest, SilentOrMissingServerIsAFatalStartError) {
  std::thread server([&] { peer.Accept(); });
  EXPECT_EQ(client.SetUp(peer.port(), 150ms), SetUpResult::kFailed);
  server.join();
  auto m = Next();
  ASSERT_TRUE(m);
  EXPECT_EQ(m->id, WM_FATAL_START_ERROR);

  uint16_t closed_port = 0;
  {
    test::AdminPeer gone;
    closed_port = gone.port();
  }
  QueueSink other_sink;
  CServerInterface other(&other_sink);
  EXPECT_EQ(other.SetUp(closed_port, 150ms), SetUpResult::kFailed);
  auto refused = other_sink.Wait(1000ms);
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->id, WM_FATAL_START_ERROR);
}

TEST_F(AdminClientTest, PeerCloseIsReported) {
  Authenticate();
  peer.Close();
  auto m = Next();
  ASSERT_TRUE(m);
  EXPECT_EQ(m->id, WM_FTP_STATE);
  EXPECT_FALSE(client.IsConnected());
  EXPECT_FALSE(client.SendKeepAlive());
}

}  // namespace
}  // namespace quarno::ftpctl
