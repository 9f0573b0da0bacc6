#include "ftpctl/server_interface.h"


#include <cstring>
#include <ctime>

#include "core/log.h"
#include "ftpctl/admin_auth.h"
#include "platform/trace.h"

namespace quarno::ftpctl {
namespace {

constexpr std::size_t kHeaderLength = 5;
constexpr std::size_t kReadChunk = 64 * 1024;
// The largest message the protocol allows; nothing legitimate needs more.
constexpr std::size_t kMaxHeld = kHeaderLength + kMaxPayloadLength;

uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint32_t Be16(const uint8_t* p) { return uint32_t(p[0]) << 8 | p[1]; }

}  // namespace

CServerInterface::CServerInterface(MessageSink* owner) : owner_(owner) { buffer_.reserve(4096); }

CServerInterface::~CServerInterface() {
  stop_ = true;
  socket_.Wake();
  if (thread_.joinable()) thread_.join();
  CloseSocket();
  connections_.Clear();
}

void CServerInterface::Post(unsigned id, std::uintptr_t wparam, std::intptr_t lparam) {
  if (owner_) owner_->Post(id, wparam, lparam);
}

bool CServerInterface::Connect(uint16_t admin_port, const std::string& address,
                               std::chrono::milliseconds timeout) {
  std::lock_guard lock(send_mutex_);
  if (thread_.joinable()) return false;  // one connection per client
  if (!socket_.Connect(address, admin_port, timeout)) return false;
  // Another local account may have bound the port first: it would get the
  // option set and the accounts. Not a byte goes to a stranger's listener.
  if (!AdminListenerIsOurs(admin_port, socket_.LocalPort())) {
    WriteLog("FTP admin port %u is not held by this user; not used", unsigned(admin_port));
    socket_.Close();
    return false;
  }
  return true;
}

bool CServerInterface::StartReceiveThread() {
  if (thread_.joinable() || !IsConnected()) return false;
  thread_ = std::thread([this] { ReceiveThread(); });
  return true;
}

bool CServerInterface::IsConnected() const {
  std::lock_guard lock(send_mutex_);
  return socket_.IsOpen();
}

bool CServerInterface::WaitAuthenticated(std::chrono::milliseconds timeout) {
  std::unique_lock lock(auth_mutex_);
  if (!auth_cv_.wait_for(lock, timeout, [&] { return auth_signalled_; })) return false;
  auth_signalled_ = false;
  return true;
}

void CServerInterface::SignalAuthenticated() {
  {
    std::lock_guard lock(auth_mutex_);
    auth_signalled_ = true;
  }
  auth_cv_.notify_all();
}

SetUpResult CServerInterface::SetUp(uint16_t admin_port, std::chrono::milliseconds auth_wait,
                                    const std::string& address) {
  if (!Connect(admin_port, address) || !StartReceiveThread()) {
    WriteLog("FTP admin connection to %s:%u failed", address.c_str(), unsigned(admin_port));
    Post(WM_FATAL_START_ERROR, 2, 0);
    return SetUpResult::kFailed;
  }
  if (!WaitAuthenticated(auth_wait) || dropped_) {
    WriteLog("FTP admin authentication on port %u failed", unsigned(admin_port));
    Post(WM_FATAL_START_ERROR, 2, 0);
    return SetUpResult::kFailed;
  }
  if (stage_ != 3) return SetUpResult::kNotAuthenticated;
  SendCommand(kCmdOptions);
  platform::Trace("After SendCommand 5");
  return SetUpResult::kAuthenticated;
}

// ---- sending ----

bool CServerInterface::SendCommand(int id, const void* payload, long length) {
  if (id < 0 || id > 31 || length < -1 || length > long(kMaxPayloadLength) ||
      (payload && length < 0)) {
    return false;
  }
  std::lock_guard lock(send_mutex_);
  // A dead connection would only grow the queue with every keep-alive.
  if (!socket_.IsOpen()) return false;

  Pending msg;
  uint32_t n = length < 0 ? 0 : uint32_t(length);
  msg.bytes.resize(kHeaderLength + n, 0);
  msg.bytes[0] = uint8_t(id << 2);
  for (int i = 0; i < 4; ++i) msg.bytes[1 + i] = uint8_t(n >> (8 * i));
  if (payload && n) std::memcpy(msg.bytes.data() + kHeaderLength, payload, n);
  queue_.push_back(std::move(msg));

  while (!queue_.empty()) {
    Pending& front = queue_.front();
    std::size_t sent = 0;
    auto io = socket_.Send(front.bytes.data() + front.sent, front.bytes.size() - front.sent, sent);
    if (io == platform::EventSocket::Io::kWouldBlock) return true;
    if (io != platform::EventSocket::Io::kOk || sent == 0) return false;
    front.sent += sent;
    if (front.sent == front.bytes.size()) queue_.pop_front();
  }
  return true;
}

bool CServerInterface::SendServerState(uint16_t state) {
  uint8_t word[2] = {uint8_t(state >> 8), uint8_t(state)};
  return SendCommand(kCmdServerState, word, 2);
}

bool CServerInterface::SendOptions(const CGeneralOption& options) {
  auto bytes = options.Serialize();
  if (!bytes) return false;
  return SendCommand(kCmdOptions, bytes->data(), long(bytes->size()));
}

bool CServerInterface::SendAccounts(const CUserSetting& accounts) {
  auto bytes = SerializeAccounts(accounts);
  if (!bytes) return false;
  return SendCommand(kCmdAccounts, bytes->data(), long(bytes->size()));
}

// ---- receiving ----

void CServerInterface::ReceiveThread() {
  for (;;) {
    auto wait = socket_.WaitReadable(std::chrono::milliseconds(-1));
    if (stop_) {
      platform::Trace("쓰레드를 종료합니다 ~~~~~~~~~~~~~^^");
      return;
    }
    if (wait == platform::EventSocket::Wait::kReadable) {
      platform::Trace("FD_READ");
      ReceiveStep();
    } else if (wait == platform::EventSocket::Wait::kError) {
      ConnectionLost();
    }
  }
}

void CServerInterface::ReceiveStep() {
  if (!socket_.IsOpen()) return;
  uint8_t chunk[kReadChunk];
  std::size_t got = 0;
  auto io = socket_.Recv(chunk, sizeof chunk, got);
  if (io == platform::EventSocket::Io::kWouldBlock) return;
  if (io != platform::EventSocket::Io::kOk) {
    platform::Trace("###################### 서버와 연결을 종료합니다 #######################");
    ConnectionLost();
    return;
  }
  Append(chunk, got);
}

void CServerInterface::ReceiveForTesting(const void* data, std::size_t length) {
  Append(static_cast<const uint8_t*>(data), length);
}

void CServerInterface::Append(const uint8_t* data, std::size_t length) {
  if (dropped_) return;
  if (stage_ == 0) stage_ = 1;
  buffer_.insert(buffer_.end(), data, data + length);
  ParseAll();
}

void CServerInterface::ParseAll() {
  while (ParseReceiveBuffer() == 1) {
  }
  if (!dropped_ && buffer_.size() - consumed_ >= kMaxHeld) {
    ProtocolError("message larger than the protocol allows");
  }
  // Move the unparsed rest to the front once per read, not once per message.
  if (consumed_) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + long(consumed_));
    consumed_ = 0;
  }
  // One large message must not pin megabytes for the rest of the session.
  if (buffer_.capacity() > (1u << 20) && buffer_.size() < 4096) {
    buffer_.shrink_to_fit();
    buffer_.reserve(4096);
  }
  held_ = buffer_.size();
}

void CServerInterface::Consume(std::size_t n) { consumed_ += n; }

int CServerInterface::ParseReceiveBuffer() {
  if (dropped_) return 0;
  switch (stage_.load()) {
    case 1:
      return ParseGreeting();
    case 2:
      return ParseAuthenticating();
    case 3:
      return ParseAuthenticated();
    default:
      return 0;
  }
}

int CServerInterface::ParseGreeting() {
  const uint8_t* p = buffer_.data() + consumed_;
  std::size_t held = buffer_.size() - consumed_;
  if (held < 3) return 0;
  if (std::memcmp(p, "FZS", 3) != 0) {
    ProtocolError("greeting does not start with FZS");
    return 0;
  }
  if (held < 5) return 0;
  if (Be16(p + 3) != 4) {
    ProtocolError("invalid server version length");
    return 0;
  }
  if (held < 9) return 0;
  uint32_t version = Le32(p + 5);
  if (version != kServerVersion) {
    platform::Trace("admin: server version 0x%08X, expected 0x%08X", version,
                    kServerVersion);
  }
  if (held < 11) return 0;
  if (Be16(p + 9) != 4) {
    ProtocolError("invalid protocol version length");
    return 0;
  }
  if (held < 15) return 0;
  if (Le32(p + 11) != kProtocolVersion) {
    ProtocolError("protocol version mismatch");
    return 0;
  }
  Consume(kGreetingLength);
  stage_ = 2;
  return 1;
}

bool CServerInterface::NextFrame(bool command_allowed, int& type, int& id, uint32_t& n,
                                 const uint8_t*& payload) {
  const uint8_t* p = buffer_.data() + consumed_;
  std::size_t held = buffer_.size() - consumed_;
  if (held < kHeaderLength) return false;
  type = p[0] & 3;
  id = (p[0] >> 2) & 31;
  if (type == 3 || (type == 0 && !command_allowed)) {
    ProtocolError("unknown command type");
    return false;
  }
  n = Le32(p + 1);
  if (n > kMaxPayloadLength) {
    ProtocolError("invalid data length");
    return false;
  }
  if (held < n + kHeaderLength) return false;
  payload = p + kHeaderLength;
  return true;
}

int CServerInterface::ParseAuthenticating() {
  int type = 0, id = 0;
  uint32_t n = 0;
  const uint8_t* payload = nullptr;
  // Only the password challenge may come as a command before acceptance.
  if (!NextFrame(true, type, id, n, payload)) return 0;
  if (type == 0 && id == 0) {
    bool well_formed = false;
    if (n >= 4) {
      uint32_t l1 = Be16(payload);
      if (l1 + 2 <= n - 2) {
        uint32_t l2 = Be16(payload + 2 + l1);
        well_formed = l1 + l2 + 4 <= n;
      }
    }
    if (!well_formed) {
      ProtocolError("malformed password challenge");
      return 0;
    }
    // Answered with this run's secret when the challenge is ours; any other
    // is dropped so it is not parsed again.
    auto nonce = ParseChallenge(payload, n);
    auto secret = nonce ? ReadAdminSecret() : std::nullopt;
    Consume(kHeaderLength + n);
    if (secret) {
      std::vector<uint8_t> answer = ChallengeAnswer(*secret, *nonce);
      SendCommand(kCmdAuth, answer.data(), static_cast<long>(answer.size()));
      return 1;
    }
    WriteLog("FTP admin interface asks for a password; not answered");
    SignalAuthenticated();
    return 1;
  }
  if (type == 1 && id == 0) {
    stage_ = 3;
    // Commands 2 and 3 go out before the waiting set-up can send its own.
    HandleReply(0, payload, n);
    SignalAuthenticated();
    Consume(kHeaderLength + n);
    return 1;
  }
  ProtocolError("unexpected message before authentication");
  return 0;
}

int CServerInterface::ParseAuthenticated() {
  int type = 0, id = 0;
  uint32_t n = 0;
  const uint8_t* payload = nullptr;
  if (!NextFrame(false, type, id, n, payload)) return 0;
  if (type == 1 && id == 0) {
    // Acceptance counts once, in stage 2; a repeat must not resend 2 and 3.
  } else if (type == 1) {
    HandleReply(id, payload, n);
  } else {
    HandleStatus(id, payload, n);
  }
  // A handler may have dropped the connection (and the buffer with it).
  if (dropped_) return 0;
  Consume(kHeaderLength + n);
  return 1;
}

bool CServerInterface::HandleReply(int id, const uint8_t* payload, std::size_t length) {
  switch (id) {
    case 0: {
      SendCommand(kCmdServerState);
      uint8_t zero = 0;
      SendCommand(kCmdConnections, &zero, 1);
      return true;
    }
    case 2:
      if (length < 2) return false;
      server_state_ = uint16_t(Be16(payload));
      platform::Trace("server is Online~^^");
      return true;
    case 3:
      platform::Trace("초기 클라이언트 접속 정보");
      return ParseUserControl(payload, length);
    case 5: {
      platform::Trace("일반 설정 정보 입니다.++++++++++++++++++++++++++++++++++++++++++++++++++");
      bool ok;
      {
        std::lock_guard lock(options_mutex_);
        ok = options_.Parse(payload, length);
      }
      Post(WM_FTP_STATE, 0, 0);
      return ok;
    }
    case 8:
      platform::Trace("서버 접속 유지를 위한 패킷입니다.~");
      return true;
    default:
      return true;
  }
}

bool CServerInterface::HandleStatus(int id, const uint8_t* payload, std::size_t length) {
  platform::Trace(":::::::::::::: ParseStatus ::::::::::::::::::::");
  switch (id) {
    case 2:
      if (length < 2) return false;
      server_state_ = uint16_t(Be16(payload));
      Post(WM_FTP_STATE, 0, 0);
      return true;
    case 3:
      return ParseUserControl(payload, length);
    case 1:
    case 4:
    case 7:
      return true;
    default:
      platform::Trace("ParseStatus :: protocol-Error");
      return false;
  }
}

bool CServerInterface::ParseUserControl(const uint8_t* payload, std::size_t length) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  if (!connections_.ParseUserControl(payload, length, local)) return false;
  Post(WM_FTP_CONNECTIONS, 0, reinterpret_cast<std::intptr_t>(&connections_));
  return true;
}

CGeneralOption CServerInterface::Options() const {
  std::lock_guard lock(options_mutex_);
  return options_;
}

// ---- ending the connection ----

void CServerInterface::CloseSocket() {
  std::lock_guard lock(send_mutex_);
  socket_.Close();
  queue_.clear();
}

void CServerInterface::ProtocolError(const char* what) {
  WriteLog("FTP admin protocol error (%s) in stage %d; connection dropped", what, stage_.load());
  ConnectionLost();
}

// The bytes at the head cannot be parsed and will never be: drop them with
// the connection and tell the owner, rather than stalling silently.
void CServerInterface::ConnectionLost() {
  if (dropped_.exchange(true)) return;
  CloseSocket();
  buffer_.clear();
  consumed_ = 0;
  held_ = 0;
  server_state_ = 0;
  if (stage_ < 3) {
    SignalAuthenticated();  // the set-up sequence sees the failure at once
  } else {
    Post(WM_FTP_STATE, 0, 0);
  }
}

}  // namespace quarno::ftpctl
