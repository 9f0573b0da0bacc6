#include "router/router_client.h"

#include <cstdio>
#include <mutex>

#include "core/log.h"
#include "platform/tcp_socket.h"
#include "platform/trace.h"

namespace quarno {
namespace {

RawHttpOptions RawOptions(const RouterOptions& options) {
  RawHttpOptions raw;
  raw.port = options.port;
  raw.connect_timeout = options.connect_timeout;
  raw.receive_timeout = options.receive_timeout;
  return raw;
}

void LogProbeFailure(RecvOutcome outcome) {
  if (outcome == RecvOutcome::kTimeout)
    WriteLog("Ralmek 공유기와 통신중 Timeout이 발생하였습니다.");
  else if (outcome == RecvOutcome::kClosed)
    WriteLog("Ralmek 공유기와 연결이 끊어졌습니다.");
  else
    WriteLog("Ralmek 공유기와 통신 중 오류가 발생하였습니다.");
}

void ShowIfServer(const RouterOptions& options, const char* text) {
  if (options.program == Program::kServer && options.show_message) options.show_message(text);
}

}  // namespace

bool ProbeRouter(const std::string& address, std::string& model_name,
                 const RouterOptions& options) {
  platform::TcpSocket socket;
  if (!ConnectPeer(socket, address, options.port, options.connect_timeout)) return false;
  // The boot service logs the connection and leaves the failures to its caller's line.
  const bool boot = options.program == Program::kBootup;
  if (boot) WriteLog("게이트웨이와 Connection 성공");
  std::string answer;
  RecvOutcome outcome = RecvOutcome::kError;
  if (socket.Send(kCheckupRequest))
    outcome = ReceiveChunk(socket, answer, options.chunk_size, options.receive_timeout);
  if (outcome != RecvOutcome::kData) {
    if (!boot) LogProbeFailure(outcome);
    socket.Close();
    return false;
  }
  std::string peeked;
  if (socket.Peek(peeked, options.chunk_size, options.receive_timeout) > 0)
    ReceiveChunk(socket, answer, options.chunk_size, options.receive_timeout);
  socket.SetLingerZero();
  socket.Close();

  bool has_line = false;
  const std::string first_line = LowerFirstLine(answer, has_line);
  if (!has_line || first_line.find("200 ok") == std::string::npos) return false;
  bool has_body = false;
  const std::string body = TrimmedBodyAfterHeader(AsciiLower(answer), has_body);
  if (has_body) model_name = body;
  return true;
}

bool CheckRouter(RouterFacts& facts, const RouterOptions& options) {
  if (!options.find_gateway || !options.find_gateway(facts.gateway)) return false;
  return ProbeRouter(facts.gateway.gateway, facts.model_name, options);
}

int GetRouterFirmwareVersion(const std::string& address, std::string& version,
                             const RouterOptions& options) {
  platform::TcpSocket socket;
  bool no_socket = false;
  if (!ConnectPeer(socket, address, options.port, options.connect_timeout, &no_socket)) {
    if (!no_socket) return -2;
    WriteLog("펌웨어 버전확인을 위한 소켓생성에 실패하였습니다.");
    return -1;
  }
  std::string answer;
  if (!socket.Send(kVersionRequest) ||
      ReceiveChunk(socket, answer, options.chunk_size, options.receive_timeout) !=
          RecvOutcome::kData) {
    WriteLog("펌웨어 버전확인 중 수신에러가 발생하였습니다. (2)");
    socket.Close();
    return -3;
  }
  const long long remaining = RemainingContentLength(answer);
  if (remaining > 0) {
    if (ReceiveAnnouncedRest(socket, answer, remaining, options.chunk_size,
                             options.receive_timeout) != RecvOutcome::kData) {
      socket.Close();
      return -3;
    }
  } else if (remaining == -1) {
    const std::size_t blank = answer.find("\r\n\r\n");
    const bool body_missing = blank == std::string::npos || blank + 4 == answer.size();
    if (body_missing && ReceiveChunk(socket, answer, options.chunk_size, options.receive_timeout) !=
                            RecvOutcome::kData) {
      WriteLog("펌웨어 버전확인 중 수신에러가 발생하였습니다. (1)");
      socket.Close();
      return -3;
    }
  }
  bool has_body = false;
  version = TrimmedBodyAfterHeader(answer, has_body);
  socket.Close();
  return 0;
}

std::string Base64Encode(const std::string& bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                       static_cast<unsigned char>(bytes[i + 1]) << 8 |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[v >> 18 & 63];
    out += kAlphabet[v >> 12 & 63];
    out += kAlphabet[v >> 6 & 63];
    out += kAlphabet[v & 63];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[v >> 18 & 63];
    out += kAlphabet[v >> 12 & 63];
    out += rest == 2 ? kAlphabet[v >> 6 & 63] : '=';
    out += '=';
  }
  return out;
}

std::string MakeRouterCredential(const std::string& user, const std::string& password) {
  return Base64Encode(user + ":" + password);
}

void RouterCredential::Set(const std::string& credential) {
  std::lock_guard<std::mutex> lock(mutex_);
  credential_ = credential;
}

std::string RouterCredential::Get() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return credential_;
}

std::string SysinfoRequest(const std::string& credential) {
  std::string request = "GET /cgi-bin/corvane.cgi?tmenu=sysinfo&smenu=internet HTTP/1.1\r\n";
  if (!credential.empty()) request += "Authorization: Basic " + credential + "\r\n";
  return request + "\r\n";
}

SysinfoAnswer ClassifySysinfoAnswer(const std::string& response) {
  bool has_line = false;
  const std::string line = LowerFirstLine(response, has_line);
  if (!has_line) return SysinfoAnswer::kOther;
  if (line.find("401 unauthorized") != std::string::npos) return SysinfoAnswer::kUnauthorized;
  if (line.find("200 ok") != std::string::npos) return SysinfoAnswer::kAccepted;
  return SysinfoAnswer::kOther;
}

int RouterWantsPassword(const std::string& address, const RouterOptions& options) {
  std::string response;
  if (RawHttpExchange(address, SysinfoRequest(), response, RawOptions(options)) != 0) return -1;
  return ClassifySysinfoAnswer(response) == SysinfoAnswer::kUnauthorized ? 1 : 0;
}

const char* AdminNoticeText(AdminNotice notice) {
  switch (notice) {
    case kNoticeEnterUser:
      return "관리자 계정을 입력하세요";
    case kNoticeEnterPassword:
      return "관리자 암호를 입력하세요";
    case kNoticeAuthFailed:
      return "인증에 실패하였습니다.";
    case kNoticeCommError:
      return "Ralmek 공유기와 통신 오류가 발생하였습니다.";
    default:
      return "";
  }
}

CredentialCheck CheckAdminCredentials(const std::string& address, const std::string& user,
                                      const std::string& password, const RouterOptions& options) {
  CredentialCheck check;
  if (user.empty()) {
    check.notice = kNoticeEnterUser;
    check.focus_user = true;
    return check;
  }
  if (password.empty()) {
    check.notice = kNoticeEnterPassword;
    check.focus_password = true;
    return check;
  }
  const std::string credential = MakeRouterCredential(user, password);
  if (options.credential) options.credential->Set(credential);
  std::string response;
  if (RawHttpExchange(address, SysinfoRequest(credential), response, RawOptions(options)) != 0) {
    check.notice = kNoticeCommError;
    return check;
  }
  switch (ClassifySysinfoAnswer(response)) {
    case SysinfoAnswer::kUnauthorized:
      check.notice = kNoticeAuthFailed;
      check.focus_user = true;
      break;
    case SysinfoAnswer::kAccepted:
      check.accepted = true;
      break;
    case SysinfoAnswer::kOther:
      break;
  }
  return check;
}

std::string RouterDdnsRequest(const std::string& name, const std::string& email,
                              const std::string& ftp_port, const std::string& http_port,
                              const std::string& domain_suffix) {
  const std::string mail = PercentEncode(email);
  return "GET /ddns/ddns_apply.cgi?act=set_ddns&hostname=" + PercentEncode(name) + "." +
         domain_suffix + "&ddns_account=" + mail + "&ddns_password=" + mail +
         "&ddns_service_type=quarno&ftp_port=" + PercentEncode(ftp_port) +
         "&http_port=" + PercentEncode(http_port) + " HTTP/1.1\r\n" + "\r\n\r\n";
}

std::string SetRouterDdns(const std::string& gateway, const std::string& name,
                          const std::string& email, const std::string& ftp_port,
                          const std::string& http_port, const RouterDdnsOptions& options) {
  const std::string request =
      RouterDdnsRequest(name, email, ftp_port, http_port, options.domain_suffix);
  platform::TcpSocket socket;
  bool no_socket = false;
  if (!ConnectPeer(socket, gateway, options.port, options.connect_timeout, &no_socket)) {
    if (no_socket) {
      std::fputs("socket creating error!!\n", stdout);
      std::fflush(stdout);
    } else {
      ShowIfServer(options, "Gateway와 연결 타임아웃이 발생하였습니다.");
    }
    return {};
  }
  std::string answer;
  RecvOutcome outcome = RecvOutcome::kError;
  if (socket.Send(request))
    outcome = ReceiveChunk(socket, answer, options.chunk_size, options.receive_timeout);
  if (outcome == RecvOutcome::kClosed)
    ShowIfServer(options, "Gateway와 연결이 끊어졌습니다.");
  else if (outcome != RecvOutcome::kData)
    ShowIfServer(options, "Gateway와 통신 실패");
  socket.SetLingerZero();
  socket.Close();
  if (outcome != RecvOutcome::kData) return {};

  bool found = false;
  std::string body = BodyBetweenMarkers(answer, found);
  platform::Trace("%s\n", answer.c_str());
  return found ? body : answer;
}

RouterClient::RouterClient(RouterOptions probe, RouterDdnsOptions ddns)
    : probe_(std::move(probe)), ddns_(std::move(ddns)) {}

std::optional<std::string> RouterClient::Probe(const std::string& address) {
  std::string model_name;
  if (!ProbeRouter(address, model_name, probe_)) return std::nullopt;
  return model_name;
}

FirmwareVersion RouterClient::Firmware(const std::string& address) {
  FirmwareVersion result;
  result.status =
      static_cast<FirmwareStatus>(GetRouterFirmwareVersion(address, result.version, probe_));
  return result;
}

PasswordQuestion RouterClient::WantsPassword(const std::string& address) {
  return static_cast<PasswordQuestion>(RouterWantsPassword(address, probe_));
}

CredentialCheck RouterClient::CheckCredentials(const std::string& address, const std::string& user,
                                               const std::string& password) {
  return CheckAdminCredentials(address, user, password, probe_);
}

std::optional<std::string> RouterClient::SetDdns(const std::string& gateway,
                                                 const RouterDdnsSetting& setting) {
  std::string answer = SetRouterDdns(gateway, setting.name, setting.email, setting.ftp_port,
                                     setting.http_port, ddns_);
  if (answer.empty()) return std::nullopt;
  return answer;
}

}  // namespace quarno
