// Exact bytes of the SSDP search and of the four SOAP requests.
#include <gtest/gtest.h>

#include "upnp/upnp_manager.h"

namespace quarno {
namespace {

constexpr char kEnvelope[] =
    "<?xml version=\"1.0\"?><s:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/"
    "envelope/\" SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>";

TEST(UpnpRequest, SsdpSearchEndsWithOneLineFeedAndNoBlankLine) {
  EXPECT_EQ(SsdpSearchRequest(),
            "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\n"
            "ST: urn:schemas-upnp-org:service:WANIPConnection:1\r\n"
            "Man: \"ssdp:discover\"\r\nMX: 3\n");
  EXPECT_EQ(DescriptionRequest("/rootDesc.xml"), "GET /rootDesc.xml HTTP/1.1\r\n\r\n");
}

TEST(UpnpRequest, QueryStateVariableIs328BytesWithItsHeader) {
  const std::string body = QueryStateVariableBody();
  EXPECT_EQ(body.size(), 328u);
  EXPECT_EQ(body, std::string(kEnvelope) +
                      "<u:QueryStateVariable xmlns:u=\"urn:schemas-upnp-org:control-1-0\">"
                      "<u:varName>PortMappingNumberOfEntries</u:varName></u:QueryStateVariable>"
                      "</s:Body></s:Envelope>\r\n");
  EXPECT_EQ(
      ControlRequest(UpnpAction::kQueryStateVariable, "/ctl/IPConn", "198.18.0.1", 5000, body),
      "POST /ctl/IPConn HTTP/1.1\r\n"
      "Content-Type: text/xml;charset=\"utf-8\"\r\n"
      "SOAPAction: \"urn:schemas-upnp-org:control-1-0#QueryStateVariable\"\r\n"
      "User-Agent: kov Agent a/4.0 (compatibl e; UPnP/1.0; Win dows 9x)\r\n"
      "Content-Length: 328\r\n"
      "HOST: 198.18.0.1:5000\r\n"
      "Connection: Close\r\n"
      "cache-Control: no-cache\r\n"
      "Pragma: no-cache\r\n\r\n" +
          body);
}

TEST(UpnpRequest, GetGenericPortMappingEntry) {
  const std::string body = GetGenericPortMappingEntryBody(7);
  EXPECT_EQ(body.substr(0, 254),
            std::string(kEnvelope) +
                "<u:GetGenericPortMappingEntry xmlns:u=\"urn:schemas-upnp-org:service:"
                "WANIPConnection:1\">");
  EXPECT_EQ(body.substr(254),
            "<NewPortMappingIndex xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"ui2\">7"
            "</NewPortMappingIndex></u:GetGenericPortMappingEntry></s:Body></s:Envelope>\r\n");
  const std::string request =
      ControlRequest(UpnpAction::kGetGenericPortMappingEntry, "/c", "1.2.3.4", 80, body);
  EXPECT_NE(request.find("\r\nSOAPAction: \"urn:schemas-upnp-org:service:WANIPConnection:1#"
                         "GetGenericPortMappingEntry\"\r\nUser-Agent: Mozill a/4.0 (compatibl e; "
                         "UPnP/1.0; Win dows 9x)\r\nContent-Length: " +
                         std::to_string(body.size()) + "\r\n"),
            std::string::npos);
}

TEST(UpnpRequest, AddAndDeletePortMapping) {
  const CPortMappingContainer ftp = ServerMapping(kFtpMappingDescription, 2121, "198.18.10.10");
  const std::string add = AddPortMappingBody(ftp);
  EXPECT_EQ(add.substr(0, 273), std::string(kEnvelope) +
                                    "<u:AddPortMapping xmlns:u=\"urn:schemas-upnp-org:service:"
                                    "WANIPConnection:1\"><NewRemoteHost></NewRemoteHost>");
  EXPECT_EQ(add.substr(273),
            "<NewExternalPort>2121</NewExternalPort><NewProtocol>TCP</NewProtocol>"
            "<NewInternalPort>2121</NewInternalPort><NewInternalClient>198.18.10.10"
            "</NewInternalClient><NewEnabled>1</NewEnabled><NewPortMappingDescription>"
            "Quarno_Server_FTP</NewPortMappingDescription><NewLeaseDuration>0</NewLeaseDuration>"
            "</u:AddPortMapping></s:Body></s:Envelope>\r\n");
  const std::string del = DeletePortMappingBody(ftp);
  EXPECT_EQ(del.substr(0, 276), std::string(kEnvelope) +
                                    "<u:DeletePortMapping xmlns:u=\"urn:schemas-upnp-org:service:"
                                    "WANIPConnection:1\"><NewRemoteHost></NewRemoteHost>");
  EXPECT_EQ(del.substr(276),
            "<NewExternalPort>2121</NewExternalPort><NewProtocol>TCP</NewProtocol>"
            "</u:DeletePortMapping></s:Body></s:Envelope>\r\n");
  const std::string request = ControlRequest(UpnpAction::kAddPortMapping, "/c", "h", 1, add);
  EXPECT_NE(request.find("User-Agent: Mozill a/4.0 (compatible; UPnP/1.0; Win dows 9x)\r\n"
                         "Content-Length: " +
                         std::to_string(add.size()) + "\r\n"),
            std::string::npos);
  EXPECT_NE(ControlRequest(UpnpAction::kDeletePortMapping, "/c", "h", 1, del)
                .find("#DeletePortMapping\"\r\n"),
            std::string::npos);
}

TEST(UpnpRequest, GetExternalIpAddress) {
  const std::string body = GetExternalIpAddressBody();
  EXPECT_EQ(body, std::string(kEnvelope) +
                      "<u:GetExternalIPAddress xmlns:u=\"urn:schemas-upnp-org:service:"
                      "WANIPConnection:1\"></u:GetExternalIPAddress></s:Body></s:Envelope>\r\n");
  EXPECT_EQ(body.size(), 297u);
  EXPECT_EQ(
      ControlRequest(UpnpAction::kGetExternalIpAddress, "/ctl/IPConn", "198.18.10.1", 5000, body),
      "POST /ctl/IPConn HTTP/1.1\r\n"
      "Content-Type: text/xml;charset=\"utf-8\"\r\n"
      "SOAPAction: \"urn:schemas-upnp-org:service:WANIPConnection:1#GetExternalIPAddress\"\r\n"
      "User-Agent: Mozill a/4.0 (compatible; UPnP/1.0; Win dows 9x)\r\n"
      "Content-Length: 297\r\n"
      "HOST: 198.18.10.1:5000\r\n"
      "Connection: Close\r\n"
      "cache-Control: no-cache\r\n"
      "Pragma: no-cache\r\n\r\n" +
          body);
}

TEST(PassiveRange, TenPortsBelowEveryOtherRangeAndNeverTheFtpPort) {
  EXPECT_EQ(PassivePortRange(2121).low, 29900);
  EXPECT_EQ(PassivePortRange(2121).high, 29909);
  EXPECT_EQ(PassivePortRange(29905).low, 29910);
  EXPECT_FALSE(PassivePortRange(29905).contains(29905));
  const std::vector<PortMapping> ports = PassivePortMappings(PassivePortRange(21), "198.18.10.10");
  ASSERT_EQ(ports.size(), 10u);
  EXPECT_EQ(ports.front().external_port, "29900");
  EXPECT_EQ(ports.back().internal_port, "29909");
  EXPECT_EQ(ports.back().description, "Quarno_Server_PASV");
  EXPECT_TRUE(PassivePortMappings(PortRange{}, "198.18.10.10").empty());
}

TEST(UpnpRequest, MarkupInAFieldCannotBreakTheEnvelope) {
  CPortMappingContainer odd = ServerMapping("a<b>&c", 21, "1.2.3.4");
  EXPECT_NE(AddPortMappingBody(odd).find("<NewPortMappingDescription>a&lt;b&gt;&amp;c<"),
            std::string::npos);
}

}  // namespace
}  // namespace quarno

namespace quarno {
namespace {

// The design's time-outs, ports and chunk sizes are the defaults of the options.
TEST(PeerDefaults, TimeoutsPortsAndChunks) {
  using std::chrono::milliseconds;
  const UpnpOptions server;
  EXPECT_EQ(server.ssdp_port, 1900);
  EXPECT_EQ(server.ssdp_timeout, milliseconds(15000));
  EXPECT_EQ(server.receive_timeout, milliseconds(15000));
  EXPECT_EQ(server.chunk_size, 1024u);
  EXPECT_EQ(UpnpOptions::ForBootup().receive_timeout, milliseconds(10));
  EXPECT_EQ(UpnpOptions::ForBootup().program, Program::kBootup);
}

}  // namespace
}  // namespace quarno
