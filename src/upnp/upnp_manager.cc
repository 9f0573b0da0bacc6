#include "upnp/upnp_manager.h"

#include <tinyxml2.h>

#include <algorithm>
#include <cstdio>

#include "core/log.h"
#include "platform/tcp_socket.h"
#include "platform/trace.h"

namespace quarno {
namespace {

constexpr char kEnvelopeOpening[] =
    "<?xml version=\"1.0\"?><s:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/"
    "envelope/\" SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>";
constexpr char kWanIpService[] = "urn:schemas-upnp-org:service:WANIPConnection:1";
constexpr char kWanDevice[] = "urn:schemas-upnp-org:device:WANDevice:1";
constexpr std::size_t kSsdpAnswerMax = 511;
// The index is a ui2: no table can hold more entries.
constexpr int kMaxEntries = 65535;

bool IsServer(const UpnpOptions& options) { return options.program == Program::kServer; }

void Stdout(const char* line) {
  std::fputs(line, stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void ReportReceiveFailure(const UpnpOptions& options, RecvOutcome outcome) {
  const bool timeout = outcome == RecvOutcome::kTimeout;
  if (IsServer(options)) {
    if (timeout)
      WriteLog("UPnP 디바이스와의 통신 중 수신 타임아웃이 발생하였습니다.");
    else
      WriteLog("UPnP 디바이스와의 통신 중 수신에러가 발생하였습니다.");
  } else {
    Stdout(timeout ? "TCP - timeout이 발생하였습니니다..." : "Recv Error!!");
  }
}

// Element values go out as they are; only markup characters are escaped, so
// the system's own values (ports, addresses, descriptions) are byte-identical.
std::string XmlText(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else
      out += c;
  }
  return out;
}

std::string Element(const char* name, const std::string& value) {
  return std::string("<") + name + ">" + XmlText(value) + "</" + name + ">";
}

const char* TextOf(const tinyxml2::XMLElement* element) {
  const char* text = element ? element->GetText() : nullptr;
  return text ? text : "";
}

// Leading blanks, then decimal digits (at most 9); -1 without digits.
int LeadingNumber(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size() &&
         (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\r' || text[pos] == '\n'))
    ++pos;
  int value = 0;
  std::size_t digits = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 9) {
    value = value * 10 + (text[pos] - '0');
    ++pos;
    ++digits;
  }
  return digits == 0 ? -1 : value;
}

// The XML behind the header of a SOAP answer; false without a blank line.
bool ParseSoapBody(std::string_view response, tinyxml2::XMLDocument& doc) {
  const std::size_t blank = response.find("\r\n\r\n");
  if (blank == std::string_view::npos) return false;
  const std::string_view xml = response.substr(blank + 4);
  return doc.Parse(xml.data(), xml.size()) == tinyxml2::XML_SUCCESS;
}

const tinyxml2::XMLElement* Walk(const tinyxml2::XMLNode* node,
                                 std::initializer_list<const char*> names) {
  const tinyxml2::XMLElement* element = nullptr;
  for (const char* name : names) {
    element = node ? node->FirstChildElement(name) : nullptr;
    if (!element) return nullptr;
    node = element;
  }
  return element;
}

bool LocalNameIs(const tinyxml2::XMLElement* element, std::string_view local) {
  std::string_view name = element->Name();
  if (const std::size_t colon = name.find(':'); colon != std::string_view::npos)
    name.remove_prefix(colon + 1);
  return name == local;
}

// Four decimal parts of 0..255, nothing else.
bool IsDottedQuad(std::string_view text) {
  int parts = 0;
  std::size_t pos = 0;
  while (parts < 4) {
    std::size_t digits = 0;
    int value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 3) {
      value = value * 10 + (text[pos] - '0');
      ++pos;
      ++digits;
    }
    if (digits == 0 || value > 255) return false;
    ++parts;
    if (parts < 4) {
      if (pos >= text.size() || text[pos] != '.') return false;
      ++pos;
    }
  }
  return pos == text.size();
}

}  // namespace

// ---------------------------------------------------------------- requests

std::string SsdpSearchRequest() {
  char buffer[256];
  std::snprintf(
      buffer, sizeof buffer,
      "M-SEARCH * HTTP/1.1\r\nHOST: %s:%s\r\nST: %s\r\nMan: \"ssdp:discover\"\r\nMX: %u\n",
      "239.255.255.250", "1900", kWanIpService, 3u);
  return buffer;
}

std::string DescriptionRequest(const std::string& path) {
  return "GET " + path + " HTTP/1.1\r\n\r\n";
}

std::string QueryStateVariableBody() {
  return std::string(kEnvelopeOpening) +
         "<u:QueryStateVariable xmlns:u=\"urn:schemas-upnp-org:control-1-0\"><u:varName>"
         "PortMappingNumberOfEntries</u:varName></u:QueryStateVariable></s:Body></s:Envelope>\r\n";
}

std::string GetGenericPortMappingEntryBody(int index) {
  return std::string(kEnvelopeOpening) +
         "<u:GetGenericPortMappingEntry xmlns:u=\"urn:schemas-upnp-org:service:WANIPConnection:1\">"
         "<NewPortMappingIndex xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"ui2\">" +
         std::to_string(index) +
         "</NewPortMappingIndex></u:GetGenericPortMappingEntry></s:Body></s:Envelope>\r\n";
}

std::string AddPortMappingBody(const CPortMappingContainer& m) {
  return std::string(kEnvelopeOpening) +
         "<u:AddPortMapping xmlns:u=\"urn:schemas-upnp-org:service:WANIPConnection:1\">"
         "<NewRemoteHost></NewRemoteHost>" +
         Element("NewExternalPort", m.external_port) + Element("NewProtocol", m.protocol) +
         Element("NewInternalPort", m.internal_port) +
         Element("NewInternalClient", m.internal_client) + Element("NewEnabled", m.enabled) +
         Element("NewPortMappingDescription", m.description) +
         "<NewLeaseDuration>0</NewLeaseDuration></u:AddPortMapping></s:Body></s:Envelope>\r\n";
}

std::string DeletePortMappingBody(const CPortMappingContainer& m) {
  return std::string(kEnvelopeOpening) +
         "<u:DeletePortMapping xmlns:u=\"urn:schemas-upnp-org:service:WANIPConnection:1\">"
         "<NewRemoteHost></NewRemoteHost>" +
         Element("NewExternalPort", m.external_port) + Element("NewProtocol", m.protocol) +
         "</u:DeletePortMapping></s:Body></s:Envelope>\r\n";
}

std::string GetExternalIpAddressBody() {
  return std::string(kEnvelopeOpening) +
         "<u:GetExternalIPAddress xmlns:u=\"urn:schemas-upnp-org:service:WANIPConnection:1\">"
         "</u:GetExternalIPAddress></s:Body></s:Envelope>\r\n";
}

std::string ControlRequest(UpnpAction action, const std::string& control_url,
                           const std::string& gateway, int port, const std::string& body) {
  const char* soap_action = "";
  const char* agent = "";
  switch (action) {
    case UpnpAction::kQueryStateVariable:
      soap_action = "SOAPAction: \"urn:schemas-upnp-org:control-1-0#QueryStateVariable\"\r\n";
      agent = "User-Agent: kov Agent a/4.0 (compatibl e; UPnP/1.0; Win dows 9x)\r\n";
      break;
    case UpnpAction::kGetGenericPortMappingEntry:
      soap_action =
          "SOAPAction: \"urn:schemas-upnp-org:service:WANIPConnection:1#"
          "GetGenericPortMappingEntry\"\r\n";
      agent = "User-Agent: Mozill a/4.0 (compatibl e; UPnP/1.0; Win dows 9x)\r\n";
      break;
    case UpnpAction::kAddPortMapping:
      soap_action =
          "SOAPAction: \"urn:schemas-upnp-org:service:WANIPConnection:1#AddPortMapping\"\r\n";
      agent = "User-Agent: Mozill a/4.0 (compatible; UPnP/1.0; Win dows 9x)\r\n";
      break;
    case UpnpAction::kDeletePortMapping:
      soap_action =
          "SOAPAction: \"urn:schemas-upnp-org:service:WANIPConnection:1#DeletePortMapping\"\r\n";
      agent = "User-Agent: Mozill a/4.0 (compatible; UPnP/1.0; Win dows 9x)\r\n";
      break;
    case UpnpAction::kGetExternalIpAddress:
      soap_action =
          "SOAPAction: \"urn:schemas-upnp-org:service:WANIPConnection:1#GetExternalIPAddress\"\r\n";
      agent = "User-Agent: Mozill a/4.0 (compatible; UPnP/1.0; Win dows 9x)\r\n";
      break;
  }
  return "POST " + control_url + " HTTP/1.1\r\n" + "Content-Type: text/xml;charset=\"utf-8\"\r\n" +
         soap_action + agent + "Content-Length: " + std::to_string(body.size()) + "\r\n" +
         "HOST: " + gateway + ":" + std::to_string(port) + "\r\n" + "Connection: Close\r\n" +
         "cache-Control: no-cache\r\n" + "Pragma: no-cache\r\n\r\n" + body;
}

// ----------------------------------------------------------------- parsers

int ParseSsdpLocation(std::string_view answer, std::string& path) {
  path.clear();
  std::vector<std::string_view> tokens;
  std::size_t pos = 0;
  while (pos < answer.size()) {
    while (pos < answer.size() &&
           (answer[pos] == '\r' || answer[pos] == '\n' || answer[pos] == ' '))
      ++pos;
    std::size_t end = pos;
    while (end < answer.size() && answer[end] != '\r' && answer[end] != '\n' && answer[end] != ' ')
      ++end;
    if (end > pos) tokens.push_back(answer.substr(pos, end - pos));
    pos = end;
  }
  std::string_view url;
  bool found = false;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i].size() >= 8 && AsciiLower(tokens[i].substr(0, 8)) == "location") {
      if (i + 1 < tokens.size()) {
        url = tokens[i + 1];
        found = true;
      }
      break;
    }
  }
  if (!found) return 0;
  const std::size_t scheme = url.find("http://");
  const std::size_t host_start = scheme == std::string_view::npos ? 6 : scheme + 7;
  if (host_start > url.size()) return 0;
  const std::size_t colon = url.find(':', host_start);
  if (colon == std::string_view::npos) return 0;
  const int port = LeadingNumber(url.substr(colon + 1, 6));
  if (port <= 0 || port > 65535) return 0;
  // A blank before the digits is not part of a port.
  if (colon + 1 >= url.size() || url[colon + 1] < '0' || url[colon + 1] > '9') return 0;
  const std::size_t slash = url.find('/', host_start);
  if (slash != std::string_view::npos) path = std::string(url.substr(slash));
  return port;
}

std::string FindWanIpControlUrl(std::string_view response) {
  const std::size_t start = response.find("<?");
  if (start == std::string_view::npos) return {};
  const std::string_view xml = response.substr(start);
  tinyxml2::XMLDocument doc(true, tinyxml2::COLLAPSE_WHITESPACE);
  if (doc.Parse(xml.data(), xml.size()) != tinyxml2::XML_SUCCESS) return {};

  const tinyxml2::XMLElement* root = doc.FirstChildElement("root");
  const tinyxml2::XMLElement* device = Walk(root, {"device", "deviceList", "device"});
  const tinyxml2::XMLElement* wan_type = nullptr;
  for (; device; device = device->NextSiblingElement()) {
    const tinyxml2::XMLElement* type = device->FirstChildElement("deviceType");
    if (!type) continue;  // a device without a type is skipped
    platform::Trace("%s\n", TextOf(type));
    if (std::string_view(TextOf(type)) == kWanDevice) {
      wan_type = type;
      platform::Trace("shortly after : %s\n", TextOf(type));
      break;
    }
  }
  if (!wan_type) return {};
  const tinyxml2::XMLElement* list = wan_type->NextSiblingElement("deviceList");
  const tinyxml2::XMLElement* connection = list ? list->FirstChildElement("device") : nullptr;
  std::string control_url;
  for (; connection; connection = connection->NextSiblingElement()) {
    const tinyxml2::XMLElement* service = Walk(connection, {"serviceList", "service"});
    if (!service) continue;
    const tinyxml2::XMLElement* service_type = service->FirstChildElement("serviceType");
    if (!service_type) break;
    platform::Trace("%s\n", TextOf(service_type));
    if (std::string_view(TextOf(service_type)) != kWanIpService) continue;
    const tinyxml2::XMLElement* url = service_type->NextSiblingElement("controlURL");
    if (!url) break;
    control_url = TextOf(url);  // the last match wins
  }
  return control_url;
}

int ParseEntryCount(std::string_view response) {
  tinyxml2::XMLDocument doc(true, tinyxml2::COLLAPSE_WHITESPACE);
  if (!ParseSoapBody(response, doc)) return -1;
  const tinyxml2::XMLElement* value =
      Walk(&doc, {"s:Envelope", "s:Body", "u:QueryStateVariableResponse", "return"});
  if (!value) return -1;
  return LeadingNumber(TextOf(value));
}

std::optional<CPortMappingContainer> ParseMappingEntry(std::string_view response) {
  tinyxml2::XMLDocument doc(true, tinyxml2::COLLAPSE_WHITESPACE);
  if (!ParseSoapBody(response, doc)) return std::nullopt;
  const tinyxml2::XMLElement* field =
      Walk(&doc, {"s:Envelope", "s:Body", "u:GetGenericPortMappingEntryResponse", "NewRemoteHost"});
  if (!field) return std::nullopt;
  CPortMappingContainer record;
  const std::pair<const char*, std::string*> order[] = {
      {"NewExternalPort", &record.external_port},
      {"NewProtocol", &record.protocol},
      {"NewInternalPort", &record.internal_port},
      {"NewInternalClient", &record.internal_client},
      {"NewEnabled", &record.enabled},
      {"NewPortMappingDescription", &record.description},
  };
  for (const auto& [name, slot] : order) {
    field = field->NextSiblingElement(name);
    if (!field) return std::nullopt;  // a record missing a field is skipped
    *slot = TextOf(field);
  }
  if (const tinyxml2::XMLElement* lease = field->NextSiblingElement("NewLeaseDuration"))
    record.lease_duration = std::max(0, LeadingNumber(TextOf(lease)));
  return record;
}

std::optional<std::string> ParseExternalIpAddress(std::string_view response) {
  if (response.find("HTTP/1.1 200 OK") == std::string_view::npos) return std::nullopt;
  tinyxml2::XMLDocument doc(true, tinyxml2::COLLAPSE_WHITESPACE);
  if (!ParseSoapBody(response, doc)) return std::nullopt;
  // Gateways differ in the prefixes they give the envelope and the response.
  const tinyxml2::XMLElement* envelope = doc.RootElement();
  const tinyxml2::XMLElement* body = envelope ? envelope->FirstChildElement() : nullptr;
  while (body && !LocalNameIs(body, "Body")) body = body->NextSiblingElement();
  const tinyxml2::XMLElement* answer = body ? body->FirstChildElement() : nullptr;
  if (!answer || !LocalNameIs(answer, "GetExternalIPAddressResponse")) return std::nullopt;
  const std::string address = TextOf(answer->FirstChildElement("NewExternalIPAddress"));
  // A gateway without a WAN address answers empty or 0.0.0.0.
  if (!IsDottedQuad(address) || address == "0.0.0.0") return std::nullopt;
  return address;
}

int ParseActionResult(std::string_view response) {
  if (response.find("HTTP/1.1 200 OK") != std::string_view::npos) return 0;
  const std::size_t open = response.find("<errorCode>");
  const std::size_t close = response.find("</errorCode>");
  if (open == std::string_view::npos || close == std::string_view::npos || close < open + 11)
    return kUpnpNoAnswer;
  const int code = LeadingNumber(response.substr(open + 11, close - open - 11));
  return code > 0 ? code : kUpnpNoAnswer;
}

// ---------------------------------------------------------------- exchange

std::string SendControlRequest(const std::string& gateway, const std::string& request, int port,
                               const UpnpOptions& options) {
  platform::TcpSocket socket;
  bool no_socket = false;
  if (port <= 0 || port > 65535 ||
      !ConnectPeer(socket, gateway, static_cast<uint16_t>(port), options.connect_timeout,
                   &no_socket)) {
    if (no_socket) {
      if (IsServer(options))
        WriteLog("UPnP 포트 포워드 설정을 위한 소켓 생성에 실패하였습니다.");
      else
        Stdout("TCP socket 생성에 실패하였습니다");
    } else if (IsServer(options)) {
      WriteLog("UPnP 디바이스와의 커넥션 에러가 발생하였습니다.");
    }
    return {};
  }
  std::string response;
  RecvOutcome outcome = RecvOutcome::kError;
  if (socket.Send(request))
    outcome = ReceiveChunk(socket, response, options.chunk_size, options.receive_timeout);
  if (outcome != RecvOutcome::kData) {
    ReportReceiveFailure(options, outcome);
    socket.Close();
    return {};
  }
  const long long remaining = RemainingContentLength(response);
  if (remaining >= 1) {
    outcome = ReceiveAnnouncedRest(socket, response, remaining, options.chunk_size,
                                   options.receive_timeout);
    if (outcome != RecvOutcome::kData) ReportReceiveFailure(options, outcome);
  }
  socket.Close();
  return response;
}

// ------------------------------------------------------------ port mapping

int CPortMappingContainer::AddPortMapping(const std::string& gateway, int port,
                                          const std::string& control_url,
                                          const UpnpOptions& options) const {
  const std::string request = ControlRequest(UpnpAction::kAddPortMapping, control_url, gateway,
                                             port, AddPortMappingBody(*this));
  return ParseActionResult(SendControlRequest(gateway, request, port, options));
}

int CPortMappingContainer::DeletePortMapping(const std::string& gateway, int port,
                                             const std::string& control_url,
                                             const UpnpOptions& options) const {
  const std::string request = ControlRequest(UpnpAction::kDeletePortMapping, control_url, gateway,
                                             port, DeletePortMappingBody(*this));
  return ParseActionResult(SendControlRequest(gateway, request, port, options));
}

CPortMappingContainer ServerMapping(const std::string& description, int port,
                                    const std::string& local_address) {
  return CPortMappingContainer(ServerPortMapping(description, port, local_address));
}

PortMapping ServerPortMapping(const std::string& description, int port,
                              const std::string& local_address) {
  PortMapping m;
  m.external_port = std::to_string(port);
  m.protocol = "TCP";
  m.internal_port = m.external_port;
  m.internal_client = local_address;
  m.enabled = "1";
  m.description = description;
  return m;
}

PortRange PassivePortRange(int ftp_port) {
  PortRange range{29900, 29909};
  if (range.contains(ftp_port)) range = {29910, 29919};
  return range;
}

std::vector<PortMapping> PassivePortMappings(const PortRange& range,
                                             const std::string& local_address) {
  std::vector<PortMapping> mappings;
  if (range.empty()) return mappings;
  for (int port = range.low; port <= range.high; ++port)
    mappings.push_back(ServerPortMapping(kPassiveMappingDescription, port, local_address));
  return mappings;
}

CUPnPManager::CUPnPManager(UpnpOptions options) : options_(std::move(options)) {}
CUPnPManager::~CUPnPManager() = default;

void CUPnPManager::DiscoverGateway(const std::string& gateway, std::string& control_url,
                                   int& port) {
  std::string answer;
  const auto start = std::chrono::steady_clock::now();
  bool no_socket = false;
  const long got = UdpExchange(gateway, options_.ssdp_port, SsdpSearchRequest(), answer,
                               kSsdpAnswerMax, options_.ssdp_timeout, &no_socket);
  if (got <= 0) {
    if (no_socket) {
      if (IsServer(options_)) WriteLog("UPnP 장치 탐색을 위한 소켓 생성에 실패하였습니다.");
    } else if (IsServer(options_)) {
      const bool timed_out =
          std::chrono::steady_clock::now() - start + std::chrono::milliseconds(5) >=
          options_.ssdp_timeout;
      if (timed_out)
        WriteLog("UPnP 장치 탐색을 위한 통신에 타임아웃이 발생하였습니다..");
      else
        WriteLog("UPnP 장치 탐색을 위한 통신에 실패하였습니다.");
    }
    return;
  }
  ReadDeviceDescription(answer.substr(0, static_cast<std::size_t>(got)), gateway, port,
                        control_url);
}

void CUPnPManager::ReadDeviceDescription(const std::string& answer, const std::string& gateway,
                                         int& port, std::string& control_url) {
  if (answer.empty()) {
    port = 0;
    return;
  }
  std::string path;
  port = ParseSsdpLocation(answer, path);
  if (port == 0 || path.empty()) return;
  const std::string response =
      SendControlRequest(gateway, DescriptionRequest(path), port, options_);
  if (response.empty()) return;
  std::string url = FindWanIpControlUrl(response);
  if (!url.empty()) control_url = url;
}

int CUPnPManager::GetMappingEntryNumbers(const std::string& gateway, int port,
                                         const std::string& control_url) {
  const std::string request = ControlRequest(UpnpAction::kQueryStateVariable, control_url, gateway,
                                             port, QueryStateVariableBody());
  const std::string response = SendControlRequest(gateway, request, port, options_);
  platform::Trace("%s\n", response.c_str());
  if (response.empty()) {
    if (IsServer(options_))
      WriteLog("UPnP 포트 포워드 리스트를 정상적으로 수신하지 못하였습니다.");
    else
      Stdout("GetMappingEntryNumbers :: 정상적으로 수신하지 못하였습니다.");
    return -1;
  }
  return ParseEntryCount(response);
}

std::string CUPnPManager::GetGenericPortMappingEntry(const std::string& gateway, int port,
                                                     const std::string& control_url, int index) {
  const std::string request = ControlRequest(UpnpAction::kGetGenericPortMappingEntry, control_url,
                                             gateway, port, GetGenericPortMappingEntryBody(index));
  return SendControlRequest(gateway, request, port, options_);
}

void CUPnPManager::ReadTable(const std::string& gateway, int port, const std::string& control_url,
                             int count) {
  if (count > kMaxEntries) count = kMaxEntries;
  for (int index = 0; index < count; ++index) {
    const std::string response = GetGenericPortMappingEntry(gateway, port, control_url, index);
    if (response.empty()) continue;
    if (auto record = ParseMappingEntry(response)) mappings_.push_back(*record);
  }
}

int CUPnPManager::ListPortMappings(const std::string& gateway, int port,
                                   const std::string& control_url) {
  const int count = GetMappingEntryNumbers(gateway, port, control_url);
  if (count < 1) {
    // A router without any forward answers 0: an empty list, not a failure
    // worth a line in the user's log.
    if (count < 0 && IsServer(options_)) WriteLog("UPnP 포트 포워드 목록 얻기에 실패하였습니다.");
    return -1;
  }
  ReadTable(gateway, port, control_url, count);
  return 0;
}

ServerMappingReading CUPnPManager::ReadServerMappings(const std::string& gateway,
                                                      const std::string& local_address) {
  ServerMappingReading reading;
  int port = 0;
  std::string control_url;
  DiscoverGateway(gateway, control_url, port);
  if (port == 0 && control_url.empty()) return reading;
  mappings_.clear();
  if (port == 0 || control_url.empty()) return reading;
  reading.control = UpnpControlPoint{gateway, port, control_url};

  const int count = GetMappingEntryNumbers(gateway, port, control_url);
  if (count >= 1) ReadTable(gateway, port, control_url, count);

  reading.kind = kNoServerMapping;
  for (const CPortMappingContainer& m : mappings_) {
    if (m.description == kFtpMappingDescription) {
      reading.kind = m.internal_client == local_address ? kMappedToThisPc : kMappedToOtherPc;
      reading.ftp_port = m.external_port;
    } else if (m.description == kHttpMappingDescription && m.internal_client == local_address) {
      reading.http_port = m.external_port;
    }
  }
  return reading;
}

MappingClass CUPnPManager::ClassifyServerMapping(const std::string& gateway,
                                                 const std::string& local_address,
                                                 MappingOwner& owner) {
  const ServerMappingReading reading = ReadServerMappings(gateway, local_address);
  if (reading.kind == kNoUpnpGateway) return kNoUpnpGateway;
  owner.control_url = reading.control.control_url;
  owner.upnp_port = std::to_string(reading.control.port);
  if (reading.ftp_port) owner.ftp_port = *reading.ftp_port;
  if (reading.http_port) owner.http_port = *reading.http_port;
  return reading.kind;
}

void CUPnPManager::RemoveServerMappings(const std::string& gateway, int port,
                                        const std::string& control_url, ServerMappingScope scope) {
  for (const CPortMappingContainer& m : mappings_) {
    // The passive range goes with the FTP mapping it serves.
    const bool ftp =
        m.description == kFtpMappingDescription || m.description == kPassiveMappingDescription;
    if (!(ftp && scope == ServerMappingScope::kFtpAndHttp) &&
        m.description != kHttpMappingDescription)
      continue;
    CPortMappingContainer target;
    target.external_port = m.external_port;
    target.protocol = m.protocol;
    target.DeletePortMapping(gateway, port, control_url, options_);
  }
}

UpnpPortMapper::UpnpPortMapper(UpnpOptions options) : client_(std::move(options)) {}

std::optional<UpnpControlPoint> UpnpPortMapper::Discover(const std::string& gateway) {
  UpnpControlPoint control{gateway, 0, {}};
  client_.DiscoverGateway(gateway, control.control_url, control.port);
  if (control.port == 0 || control.control_url.empty()) return std::nullopt;
  return control;
}

ServerMappingReading UpnpPortMapper::ClassifyServerMappings(const std::string& gateway,
                                                            const std::string& local_address) {
  return client_.ReadServerMappings(gateway, local_address);
}

bool UpnpPortMapper::ReadMappings(const UpnpControlPoint& control) {
  return client_.ListPortMappings(control.gateway, control.port, control.control_url) == 0;
}

std::vector<PortMapping> UpnpPortMapper::Mappings() const {
  return {client_.Mappings().begin(), client_.Mappings().end()};
}

void UpnpPortMapper::RemoveServerMappings(const UpnpControlPoint& control,
                                          ServerMappingScope scope) {
  client_.RemoveServerMappings(control.gateway, control.port, control.control_url, scope);
}

UpnpActionResult UpnpPortMapper::AddMapping(const UpnpControlPoint& control,
                                            const PortMapping& mapping) {
  return {CPortMappingContainer(mapping).AddPortMapping(control.gateway, control.port,
                                                        control.control_url, client_.Options())};
}

std::optional<std::string> CUPnPManager::GetExternalIpAddress(const std::string& gateway, int port,
                                                              const std::string& control_url) {
  const std::string request = ControlRequest(UpnpAction::kGetExternalIpAddress, control_url,
                                             gateway, port, GetExternalIpAddressBody());
  return ParseExternalIpAddress(SendControlRequest(gateway, request, port, options_));
}

std::optional<std::string> UpnpPortMapper::ExternalAddress(const UpnpControlPoint& control) {
  return client_.GetExternalIpAddress(control.gateway, control.port, control.control_url);
}

UpnpActionResult UpnpPortMapper::DeleteMapping(const UpnpControlPoint& control,
                                               const PortMapping& mapping) {
  return {CPortMappingContainer(mapping).DeletePortMapping(control.gateway, control.port,
                                                           control.control_url, client_.Options())};
}

}  // namespace quarno
