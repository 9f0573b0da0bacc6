#pragma once
// Client of the FTP server's administration interface on the loopback
// address. One receive thread parses what the server sends and posts the
// results to the owner; sends come from any thread under the send lock.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/messages.h"
#include "ftpctl/admin_protocol.h"
#include "ftpctl/account.h"
#include "ftpctl/connection_list.h"
#include "ftpctl/general_option.h"
#include "platform/event_socket.h"

namespace quarno::ftpctl {

inline constexpr int kGreetingLength = 15;

enum class SetUpResult {
  kFailed,            // WM_FATAL_START_ERROR (2, 0) was posted
  kAuthenticated,     // option set requested; start the keep-alive timer
  kNotAuthenticated,  // challenged: go on without options and keep-alive
};

class CServerInterface {
 public:
  // `owner` receives WM_FTP_CONNECTIONS, WM_FTP_STATE and WM_FATAL_START_ERROR;
  // it must outlive this object.
  explicit CServerInterface(MessageSink* owner);
  ~CServerInterface();
  CServerInterface(const CServerInterface&) = delete;
  CServerInterface& operator=(const CServerInterface&) = delete;

  bool Connect(uint16_t admin_port, const std::string& address = "127.0.0.1",
               std::chrono::milliseconds timeout = std::chrono::seconds(5));
  bool StartReceiveThread();
  // True when authentication ended (accepted, challenged or refused) in time.
  bool WaitAuthenticated(std::chrono::milliseconds timeout);

  // The owner's set-up sequence: connect, receive thread, wait for
  // authentication, then request the option set.
  SetUpResult SetUp(uint16_t admin_port,
                    std::chrono::milliseconds auth_wait = std::chrono::milliseconds(5000),
                    const std::string& address = "127.0.0.1");

  // Queues one command and sends what the socket takes. `length` -1 with no
  // payload sends an empty payload. False when the connection is gone or
  // the send failed; a would-block leaves the rest queued for the next call.
  bool SendCommand(int id, const void* payload = nullptr, long length = -1);
  bool SendKeepAlive() { return SendCommand(kCmdKeepAlive); }
  bool SendServerState(uint16_t state);
  bool SendOptions(const CGeneralOption& options);
  bool SendAccounts(const CUserSetting& accounts);

  // 1 when a message (or the greeting) was consumed, 0 when more data is
  // needed or parsing stopped.
  int ParseReceiveBuffer();
  bool HandleReply(int id, const uint8_t* payload, std::size_t length);
  bool HandleStatus(int id, const uint8_t* payload, std::size_t length);
  bool ParseUserControl(const uint8_t* payload, std::size_t length);

  // Feeds bytes as if they had been received (tests, fuzzing).
  void ReceiveForTesting(const void* data, std::size_t length);

  int ConnectionStage() const { return stage_.load(); }
  uint16_t ServerState() const { return server_state_.load(); }
  bool IsConnected() const;
  // Set once a protocol error or the peer's close ended the connection.
  bool Dropped() const { return dropped_.load(); }
  CGeneralOption Options() const;
  // WM_FTP_CONNECTIONS carries a pointer to this list in lParam.
  const ConnectionList& Connections() const { return connections_; }
  // Unparsed bytes held after the last read.
  std::size_t BufferedBytesForTesting() const { return held_.load(); }

 private:
  struct Pending {
    std::vector<uint8_t> bytes;
    std::size_t sent = 0;
  };

  void ReceiveThread();
  void ReceiveStep();
  void Append(const uint8_t* data, std::size_t length);
  void ParseAll();
  int ParseGreeting();
  // The next whole frame in the buffer: false while incomplete, or after a
  // protocol error (reported, connection dropped).
  bool NextFrame(bool command_allowed, int& type, int& id, uint32_t& n, const uint8_t*& payload);
  int ParseAuthenticating();
  int ParseAuthenticated();
  void Consume(std::size_t n);
  void ProtocolError(const char* what);
  void ConnectionLost();
  void SignalAuthenticated();
  void CloseSocket();
  void Post(unsigned id, std::uintptr_t wparam, std::intptr_t lparam);

  MessageSink* owner_;
  platform::EventSocket socket_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> stage_{0};
  std::atomic<uint16_t> server_state_{0};
  std::atomic<bool> dropped_{false};

  std::mutex auth_mutex_;
  std::condition_variable auth_cv_;
  bool auth_signalled_ = false;  // auto-reset

  // Receive thread only.
  std::vector<uint8_t> buffer_;
  std::size_t consumed_ = 0;
  std::atomic<std::size_t> held_{0};

  mutable std::mutex send_mutex_;  // also guards the socket's lifetime
  std::deque<Pending> queue_;

  mutable std::mutex options_mutex_;
  CGeneralOption options_;
  ConnectionList connections_;
};

}  // namespace quarno::ftpctl
