#include "ddns/ddns_manager.h"

#include <cstdio>

#include "core/log.h"
#include "core/netprobe.h"
#include "platform/trace.h"

namespace quarno {

CDDNS_Manager::CDDNS_Manager(DdnsOptions options) : options_(std::move(options)) {
  request_header_ = std::string("POST ") + endpoints::kDdnsScriptPath + " HTTP/1.1\r\n" +
                    "Content-Type: application/x-www-form-urlencoded\r\n"
                    "Accept-Encoding: gzip, deflate\r\n"
                    "User-Agent: Ralmek DDNS client 1.0\r\n"
                    "Host: " +
                    options_.host_header + "\r\n" + "Authorization: Basic " + options_.credential +
                    "\r\n";
}

CDDNS_Manager::~CDDNS_Manager() = default;

void CDDNS_Manager::SetServerAddress(const std::string& dotted) {
  server_address_ = dotted.substr(0, 49);
}

void CDDNS_Manager::Show(const char* text) const {
  if (options_.program == Program::kServer && options_.show_message) options_.show_message(text);
}

std::string CDDNS_Manager::ComposeRequest(const std::string& body) const {
  return request_header_ + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string CDDNS_Manager::RegisterBody(const std::string& email, const std::string& name,
                                        const platform::MacAddress& mac, int ftp_port,
                                        int http_port) const {
  const std::string n = PercentEncode(name);
  return "action=register&domain=" + n + "." + options_.domain_suffix + "&account=" + n + ":" +
         "&hinfo=" + FormatMac(mac) + "&model=QUARNO_PC_SERVER" +
         "&ftp_ext_port=" + std::to_string(ftp_port) + ":1&http_port=" + std::to_string(http_port) +
         "&option=0&email=" + PercentEncode(email);
}

std::string CDDNS_Manager::DeleteBody(const std::string& email, const std::string& name,
                                      const platform::MacAddress& mac) const {
  const std::string n = PercentEncode(name);
  return "action=delete&hinfo=" + FormatMac(mac) + "&domain=" + n + "." + options_.domain_suffix +
         "&email=" + PercentEncode(email) + "&account=" + n + ":";
}

std::string CDDNS_Manager::GetByMacBody(const platform::MacAddress& mac) const {
  return "action=get_by_mac&hinfo=" + FormatMac(mac);
}

int CDDNS_Manager::SendRequest(const std::string& request, std::string& response) {
  platform::TcpSocket socket;
  bool no_socket = false;
  if (!ConnectPeer(socket, server_address_, options_.port, options_.connect_timeout, &no_socket)) {
    if (no_socket) {
      std::fputs("socket creating error!!\n", stdout);
      std::fflush(stdout);
      if (options_.program == Program::kServer) WriteLog("[DDNS] 소켓 생성에 실패하였습니다.");
      return -1;
    }
    Show("DDNS Server와 연결 타임아웃이 발생하였습니다.");
    return 0;
  }
  int result = 1;
  RecvOutcome outcome = RecvOutcome::kError;
  if (socket.Send(request)) {
    outcome = ReceiveChunk(socket, response, options_.chunk_size, options_.receive_timeout);
    if (outcome == RecvOutcome::kData) {
      const long long remaining = RemainingContentLength(response);
      if (remaining > 0) {
        outcome = ReceiveAnnouncedRest(socket, response, remaining, options_.chunk_size,
                                       options_.receive_timeout);
      }
    }
  }
  if (outcome != RecvOutcome::kData) {
    result = 0;
    Show(outcome == RecvOutcome::kTimeout ? "DDNS 서버와 통신에 타임아웃이 발생하였습니다."
                                          : "DDNS 서버와 통신에 실패하였습니다.");
  }
  socket.SetLingerZero();
  socket.Close();
  return result;
}

std::string CDDNS_Manager::ExtractBody(const std::string& response) {
  bool found = false;
  std::string body = BodyBetweenMarkers(response, found);
  return found ? body : std::string();
}

std::string CDDNS_Manager::RegisterHost(const std::string& email, const std::string& name,
                                        const platform::MacAddress& mac, int ftp_port,
                                        int http_port) {
  std::string response;
  if (SendRequest(ComposeRequest(RegisterBody(email, name, mac, ftp_port, http_port)), response) !=
      1)
    return {};
  return ExtractBody(response);
}

bool CDDNS_Manager::DeleteHost(const std::string& email, const std::string& name,
                               const platform::MacAddress& mac) {
  std::string response;
  if (SendRequest(ComposeRequest(DeleteBody(email, name, mac)), response) != 1) return false;
  const std::string body = ExtractBody(response);
  if (body == "ok") {
    platform::Trace("삭제~ ok~~ %%%%%%%%%%\n");
    return true;
  }
  if (body == "fail") platform::Trace("삭제~ failed~~ %%%%%%%%%%\n");
  return false;
}

std::string CDDNS_Manager::GetByMac(const platform::MacAddress& mac) {
  std::string response;
  if (SendRequest(ComposeRequest(GetByMacBody(mac)), response) != 1) return {};
  return ExtractBody(response);
}

std::vector<std::string> SplitAnswerFields(const std::string& body) {
  std::vector<std::string> fields;
  std::size_t pos = 0;
  while (pos <= body.size()) {
    std::size_t end = body.find(';', pos);
    if (end == std::string::npos) end = body.size();
    if (end > pos) fields.push_back(body.substr(pos, end - pos));
    pos = end + 1;
  }
  return fields;
}

RegisterVerdict ClassifyRegisterAnswer(const std::string& body) {
  if (body.find("!yours") != std::string::npos) return RegisterVerdict::kNotYours;
  if (body.find("!badsys") != std::string::npos) return RegisterVerdict::kBadSys;
  const std::vector<std::string> fields = SplitAnswerFields(body);
  if (fields.empty() || fields[0] != "good") return RegisterVerdict::kFailed;
  if (fields.size() < 2) return RegisterVerdict::kIncomplete;
  // A missing third field reads as empty, which is not "0".
  if (fields[1] == "0" || (fields.size() > 2 && fields[2] == "0"))
    return RegisterVerdict::kIncomplete;
  return RegisterVerdict::kComplete;
}

std::optional<DdnsRecord> ParseGetByMacAnswer(const std::string& body) {
  if (body.empty() || AsciiLower(body) == "null") return std::nullopt;
  const std::vector<std::string> fields = SplitAnswerFields(body);
  // Fewer than three fields cannot name a host, an address and a port.
  if (fields.size() < 3) return std::nullopt;
  DdnsRecord record;
  std::string* slots[] = {&record.host_name, &record.email, &record.ftp_port, &record.http_port};
  for (std::size_t i = 0; i < fields.size() && i < 4; ++i) *slots[i] = fields[i];
  return record;
}

std::string ResolveDdnsServer(const std::string& host) { return platform::ResolveIPv4(host); }

}  // namespace quarno

namespace quarno {

DdnsClientRegistry::DdnsClientRegistry(DdnsOptions options) : client_(std::move(options)) {}

std::optional<std::string> DdnsClientRegistry::LocateServer() {
  const std::string address = ResolveDdnsServer(client_.Options().host_header);
  if (address.empty()) return std::nullopt;
  client_.SetServerAddress(address);
  return address;
}

RegisterResult DdnsClientRegistry::Register(const DdnsRegistration& registration) {
  RegisterResult result;
  result.answer = client_.RegisterHost(registration.email, registration.name, registration.mac,
                                       registration.ftp_port, registration.http_port);
  result.verdict = ClassifyRegisterAnswer(result.answer);
  return result;
}

bool DdnsClientRegistry::Delete(const std::string& email, const std::string& name,
                                const platform::MacAddress& mac) {
  return client_.DeleteHost(email, name, mac);
}

DdnsLookup DdnsClientRegistry::LookupByMac(const platform::MacAddress& mac) {
  DdnsLookup lookup;
  lookup.answer = client_.GetByMac(mac);
  lookup.record = ParseGetByMacAnswer(lookup.answer);
  return lookup;
}

}  // namespace quarno
