// Parsing of the gateway's answers: SSDP location, device description walk,
// SOAP answers.
#include <gtest/gtest.h>

#include "upnp/upnp_manager.h"

namespace quarno {
namespace {

constexpr char kIp[] = "urn:schemas-upnp-org:service:WANIPConnection:1";
constexpr char kWan[] = "urn:schemas-upnp-org:device:WANDevice:1";

std::string Service(const std::string& type, const std::string& url) {
  return "<service><serviceType>" + type + "</serviceType><controlURL>" + url +
         "</controlURL></service>";
}
std::string Connection(const std::string& services) {
  return "<device><deviceType>urn:schemas-upnp-org:device:WANConnectionDevice:1</deviceType>"
         "<serviceList>" +
         services + "</serviceList></device>";
}
std::string Description(const std::string& embedded) {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n\r\n<?xml version=\"1.0\"?>\n"
         "<root xmlns=\"urn:schemas-upnp-org:device-1-0\"><device><deviceType>"
         "urn:schemas-upnp-org:device:InternetGatewayDevice:1</deviceType><deviceList>" +
         embedded + "</deviceList></device></root>";
}
std::string Wan(const std::string& type, const std::string& connections) {
  return "<device><deviceType>" + type + "</deviceType><deviceList>" + connections +
         "</deviceList></device>";
}

TEST(SsdpLocation, PortAndPathFromTheTokenAfterTheHeaderName) {
  std::string path;
  EXPECT_EQ(ParseSsdpLocation("HTTP/1.1 200 OK\r\nLoCaTiOn: http://198.18.0.1:5000/rootDesc.xml\r\n"
                              "\r\n",
                              path),
            5000);
  EXPECT_EQ(path, "/rootDesc.xml");
  EXPECT_EQ(
      ParseSsdpLocation("HTTP/1.1 200 OK\r\nlocation: http://1.2.3.4:1900/igd/desc\r\n", path),
      1900);
  EXPECT_EQ(path, "/igd/desc");
  // No port in the URL: discovery fails.
  EXPECT_EQ(ParseSsdpLocation("HTTP/1.1 200 OK\r\nLOCATION: http://1.2.3.4/desc.xml\r\n", path), 0);
  EXPECT_EQ(ParseSsdpLocation("HTTP/1.1 200 OK\r\nST: x\r\n\r\n", path), 0);
  EXPECT_EQ(ParseSsdpLocation("LOCATION:", path), 0);
  EXPECT_EQ(ParseSsdpLocation("LOCATION: http://1.2.3.4:99999/x", path), 0);
  EXPECT_EQ(ParseSsdpLocation("", path), 0);
}

TEST(DescriptionWalk, FindsTheServiceOfTheWanDevice) {
  const std::string lan =
      "<device><deviceType>urn:schemas-upnp-org:device:LANDevice:1"
      "</deviceType></device>";
  EXPECT_EQ(FindWanIpControlUrl(Description(Wan(kWan, Connection(Service(kIp, "/ctl/IP"))))),
            "/ctl/IP");
  // The WAN device may follow other embedded devices, also ones without a type.
  EXPECT_EQ(FindWanIpControlUrl(
                Description("<device/>" + lan + Wan(kWan, Connection(Service(kIp, "/ctl/IP2"))))),
            "/ctl/IP2");
}

TEST(DescriptionWalk, LastMatchingConnectionDeviceWins) {
  EXPECT_EQ(FindWanIpControlUrl(Description(Wan(
                kWan, Connection(Service(kIp, "/first")) + Connection(Service(kIp, "/second"))))),
            "/second");
}

TEST(DescriptionWalk, ExactTypesAndOnlyTheFirstServiceOfAList) {
  EXPECT_EQ(FindWanIpControlUrl(Description(
                Wan("urn:schemas-upnp-org:device:WANDevice:2", Connection(Service(kIp, "/x"))))),
            "");
  EXPECT_EQ(
      FindWanIpControlUrl(Description(
          Wan(kWan, Connection(Service("urn:schemas-upnp-org:service:wanipconnection:1", "/x"))))),
      "");
  EXPECT_EQ(FindWanIpControlUrl(Description(Wan(
                kWan, Connection(Service("urn:schemas-upnp-org:service:WANPPPConnection:1", "/p") +
                                 Service(kIp, "/x"))))),
            "");
}

TEST(DescriptionWalk, MissingPiecesEndTheWalkCleanly) {
  EXPECT_EQ(FindWanIpControlUrl("HTTP/1.1 200 OK\r\n\r\nno xml here"), "");
  EXPECT_EQ(FindWanIpControlUrl("<?xml version=\"1.0\"?><root><device>"), "");
  EXPECT_EQ(FindWanIpControlUrl(Description("")), "");
  EXPECT_EQ(FindWanIpControlUrl(
                Description("<device><deviceType>" + std::string(kWan) + "</deviceType></device>")),
            "");
  // A matching service without a controlURL ends the walk, keeping earlier matches.
  EXPECT_EQ(FindWanIpControlUrl(
                Description(Wan(kWan, Connection(Service(kIp, "/a")) +
                                          Connection("<service><serviceType>" + std::string(kIp) +
                                                     "</serviceType></service>") +
                                          Connection(Service(kIp, "/c"))))),
            "/a");
  // A connection device without a serviceList is passed over.
  EXPECT_EQ(
      FindWanIpControlUrl(Description(Wan(
          kWan, "<device><deviceType>x</deviceType></device>" + Connection(Service(kIp, "/b"))))),
      "/b");
}

std::string Soap(const std::string& inner) {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n\r\n<?xml version=\"1.0\"?>\r\n"
         "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>" +
         inner + "</s:Body></s:Envelope>\r\n";
}

TEST(SoapAnswer, EntryCount) {
  const std::string open =
      "<u:QueryStateVariableResponse xmlns:u=\"urn:schemas-upnp-org:control-1-0\">";
  EXPECT_EQ(ParseEntryCount(Soap(open + "<return>0</return></u:QueryStateVariableResponse>")), 0);
  EXPECT_EQ(ParseEntryCount(Soap(open + "<return> 12 </return></u:QueryStateVariableResponse>")),
            12);
  EXPECT_EQ(ParseEntryCount(Soap(open + "<return>many</return></u:QueryStateVariableResponse>")),
            -1);
  EXPECT_EQ(ParseEntryCount(Soap(open + "<return/></u:QueryStateVariableResponse>")), -1);
  EXPECT_EQ(ParseEntryCount(Soap(open + "</u:QueryStateVariableResponse>")), -1);
  EXPECT_EQ(ParseEntryCount("HTTP/1.1 200 OK\r\n"), -1);
}

TEST(SoapAnswer, MappingEntryFieldsInStandardOrder) {
  const std::string fields =
      "<NewRemoteHost></NewRemoteHost><NewExternalPort>2121</NewExternalPort>"
      "<NewProtocol>TCP</NewProtocol><NewInternalPort>2121</NewInternalPort>"
      "<NewInternalClient>198.18.10.10</NewInternalClient><NewEnabled>1</NewEnabled>"
      "<NewPortMappingDescription>Quarno_Server_FTP</NewPortMappingDescription>"
      "<NewLeaseDuration>0</NewLeaseDuration>";
  auto entry = ParseMappingEntry(Soap("<u:GetGenericPortMappingEntryResponse>" + fields +
                                      "</u:GetGenericPortMappingEntryResponse>"));
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->external_port, "2121");
  EXPECT_EQ(entry->protocol, "TCP");
  EXPECT_EQ(entry->internal_port, "2121");
  EXPECT_EQ(entry->internal_client, "198.18.10.10");
  EXPECT_EQ(entry->enabled, "1");
  EXPECT_EQ(entry->description, "Quarno_Server_FTP");
  EXPECT_EQ(entry->lease_duration, 0);
  // The lease left, when the gateway gives one; nonsense reads as none.
  std::string leased = fields;
  leased.replace(leased.find("<NewLeaseDuration>0"), 19, "<NewLeaseDuration>604793");
  EXPECT_EQ(ParseMappingEntry(Soap("<u:GetGenericPortMappingEntryResponse>" + leased +
                                   "</u:GetGenericPortMappingEntryResponse>"))
                ->lease_duration,
            604793);
  leased.replace(leased.find("<NewLeaseDuration>604793"), 24, "<NewLeaseDuration>-5");
  EXPECT_EQ(ParseMappingEntry(Soap("<u:GetGenericPortMappingEntryResponse>" + leased +
                                   "</u:GetGenericPortMappingEntryResponse>"))
                ->lease_duration,
            0);
  // A record without one of its fields is skipped.
  std::string missing = fields;
  missing.erase(missing.find("<NewEnabled>"), std::string("<NewEnabled>1</NewEnabled>").size());
  EXPECT_FALSE(ParseMappingEntry(Soap("<u:GetGenericPortMappingEntryResponse>" + missing +
                                      "</u:GetGenericPortMappingEntryResponse>")));
  EXPECT_FALSE(ParseMappingEntry(Soap("<u:Other>" + fields + "</u:Other>")));
}

TEST(SoapAnswer, ExternalAddressOnlyAsADottedQuad) {
  auto answer = [](const std::string& address, const std::string& prefix = "u") {
    return Soap("<" + prefix + ":GetExternalIPAddressResponse xmlns:" + prefix +
                "=\"urn:schemas-upnp-org:service:WANIPConnection:1\"><NewExternalIPAddress>" +
                address + "</NewExternalIPAddress></" + prefix + ":GetExternalIPAddressResponse>");
  };
  EXPECT_EQ(ParseExternalIpAddress(answer("192.0.3.2")), "192.0.3.2");
  EXPECT_EQ(ParseExternalIpAddress(answer("203.0.113.250", "m")), "203.0.113.250");
  // No WAN address yet, or not an address at all.
  for (const char* bad : {"", "0.0.0.0", "192.0.3", "192.0.3.2.1", "256.1.1.1", "1.2.3.4x",
                          "host.example", "1..2.3", "<b>1.2.3.4</b>"}) {
    EXPECT_FALSE(ParseExternalIpAddress(answer(bad))) << bad;
  }
  std::string failed = answer("192.0.3.2");
  failed.replace(0, 15, "HTTP/1.1 500 Internal Server Error");
  EXPECT_FALSE(ParseExternalIpAddress(failed));
  EXPECT_FALSE(ParseExternalIpAddress(""));
  EXPECT_FALSE(ParseExternalIpAddress(Soap("<u:AddPortMappingResponse/>")));
}

TEST(SoapAnswer, ActionResultNeverReadsEmptyOrGarbageAsSuccess) {
  EXPECT_EQ(ParseActionResult("HTTP/1.1 200 OK\r\n\r\n"), 0);
  EXPECT_EQ(ParseActionResult("HTTP/1.1 500 Internal Server Error\r\n\r\n<s:Envelope><s:Body>"
                              "<s:Fault><detail><UPnPError><errorCode>718</errorCode>"
                              "</UPnPError></detail></s:Fault></s:Body></s:Envelope>"),
            718);
  EXPECT_EQ(ParseActionResult(""), kUpnpNoAnswer);
  EXPECT_EQ(ParseActionResult("HTTP/1.1 500 Internal Server Error\r\n\r\n"), kUpnpNoAnswer);
  EXPECT_EQ(ParseActionResult("<errorCode>abc</errorCode>"), kUpnpNoAnswer);
  EXPECT_EQ(ParseActionResult("<errorCode>0</errorCode>"), kUpnpNoAnswer);
  EXPECT_EQ(ParseActionResult("</errorCode><errorCode>"), kUpnpNoAnswer);
}

}  // namespace
}  // namespace quarno
