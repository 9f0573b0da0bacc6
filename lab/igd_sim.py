#!/usr/bin/env python3
"""Simulator of a UPnP Internet Gateway Device (integration tests).

Answers a unicast SSDP M-SEARCH on UDP, serves a device description whose
layout is chosen on the command line (to exercise the client's walk), and
takes SOAP control requests for AddPortMapping, DeletePortMapping,
GetGenericPortMappingEntry and QueryStateVariable over a real mapping table.
See lab/README.md.
"""

import os
import re
import socket
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import simhttp  # noqa: E402

WANIP = "urn:schemas-upnp-org:service:WANIPConnection:1"
ENVELOPE = ('<?xml version="1.0"?>\r\n<s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/" '
            's:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><s:Body>%s</s:Body></s:Envelope>\r\n')
ERRORS = {402: "Invalid Args", 501: "Action Failed", 713: "SpecifiedArrayIndexInvalid",
          714: "NoSuchEntryInArray", 718: "ConflictInMappingEntry", 401: "Invalid Action"}


def service(stype, url):
    return ("<service><serviceType>%s</serviceType><serviceId>urn:upnp-org:serviceId:%s</serviceId>"
            "<controlURL>%s</controlURL><eventSubURL>/evt%s</eventSubURL><SCPDURL>/scpd%s.xml</SCPDURL>"
            "</service>" % (stype, stype.split(":")[-2], url, url, url))


def conn_device(services):
    return ("<device><deviceType>urn:schemas-upnp-org:device:WANConnectionDevice:1</deviceType>"
            "<friendlyName>WAN connection</friendlyName><serviceList>%s</serviceList></device>"
            % "".join(services))


def description(layout):
    wan_type = "urn:schemas-upnp-org:device:WANDevice:1"
    ip_type = WANIP
    conns = [conn_device([service(ip_type, "/ctl/IPConn")])]
    lan_first = False
    if layout == "second-service":
        conns = [conn_device([service("urn:schemas-upnp-org:service:WANPPPConnection:1", "/ctl/PPPConn"),
                              service(ip_type, "/ctl/IPConn")])]
    elif layout == "two-connections":
        conns = [conn_device([service(ip_type, "/ctl/IPConn")]),
                 conn_device([service(ip_type, "/ctl/IPConn2")])]
    elif layout == "wandevice2":
        wan_type = "urn:schemas-upnp-org:device:WANDevice:2"
    elif layout == "case":
        conns = [conn_device([service(ip_type.lower(), "/ctl/IPConn")])]
    elif layout == "lan-first":
        lan_first = True
    elif layout != "standard":
        raise SystemExit("unknown layout " + layout)
    wan = ("<device><deviceType>%s</deviceType><friendlyName>WAN device</friendlyName>"
           "<serviceList>%s</serviceList><deviceList>%s</deviceList></device>"
           % (wan_type, service("urn:schemas-upnp-org:service:WANCommonInterfaceConfig:1", "/ctl/CmnIfCfg"),
              "\n".join(conns)))
    lan = ("<device><deviceType>urn:schemas-upnp-org:device:LANDevice:1</deviceType>"
           "<friendlyName>LAN device</friendlyName></device>")
    embedded = (lan + "\n" + wan) if lan_first else wan
    return ('<?xml version="1.0"?>\r\n<root xmlns="urn:schemas-upnp-org:device-1-0">\r\n'
            "<specVersion><major>1</major><minor>0</minor></specVersion>\r\n"
            "<device>\r\n<deviceType>urn:schemas-upnp-org:device:InternetGatewayDevice:1</deviceType>\r\n"
            "<friendlyName>Lab gateway</friendlyName>\r\n"
            "<serviceList>%s</serviceList>\r\n<deviceList>\r\n%s\r\n</deviceList>\r\n</device>\r\n</root>\r\n"
            % (service("urn:schemas-upnp-org:service:Layer3Forwarding:1", "/ctl/L3F"), embedded))


def arg(body, name):
    m = re.search(r"<(?:[\w-]+:)?%s(?:\s[^>]*)?>(.*?)</(?:[\w-]+:)?%s\s*>" % (name, name), body, re.S)
    return m.group(1).strip() if m else None


def main():
    p = simhttp.make_parser(__doc__, 5000)
    p.add_argument("--ssdp-port", type=int, default=1900, help="UDP port of the SSDP answerer (0: free one)")
    p.add_argument("--layout", default="standard",
                   help="standard | lan-first | second-service | two-connections | wandevice2 | case")
    p.add_argument("--location-header", default="LOCATION",
                   help="spelling of the location header name in the SSDP answer")
    p.add_argument("--location-url", default="",
                   help="location URL sent (default http://ADDRESS:PORT/rootDesc.xml)")
    p.add_argument("--ssdp-silent", action="store_true", help="never answer M-SEARCH")
    p.add_argument("--external-address", default="192.0.3.2",
                   help="WAN address GetExternalIPAddress answers (empty: action fails with 501)")
    p.add_argument("--entries-extra", type=int, default=0,
                   help="report this many more entries than the table holds")
    args = p.parse_args()

    state = simhttp.State(args.state_file, {"mappings": [], "requests": []})
    desc = description(args.layout)

    def soap_ok(action, inner=""):
        body = ENVELOPE % ('<u:%sResponse xmlns:u="%s">%s</u:%sResponse>' % (action, WANIP, inner, action))
        return simhttp.Response(200, "OK", body, [("Content-Type", 'text/xml; charset="utf-8"')])

    def soap_error(code):
        return simhttp.Response(500, "Internal Server Error", error_body(code),
                                [("Content-Type", 'text/xml; charset="utf-8"')])

    def find(ext, proto):
        for m in state.data["mappings"]:
            if m["external_port"] == ext and m["protocol"] == proto:
                return m
        return None

    def control(req):
        text = req.body.decode("utf-8", "replace")
        soap_action = req.headers.get("soapaction", "")
        action = soap_action.strip('"').split("#")[-1] if "#" in soap_action else ""
        if not action:
            m = re.search(r"<(?:[\w-]+:)?(AddPortMapping|DeletePortMapping|GetGenericPortMappingEntry|"
                          r"QueryStateVariable|GetExternalIPAddress)[\s>]", text)
            action = m.group(1) if m else ""
        mappings = state.data["mappings"]
        if action == "QueryStateVariable":
            if arg(text, "varName") != "PortMappingNumberOfEntries":
                return soap_error(402)
            body = ENVELOPE % ('<u:QueryStateVariableResponse xmlns:u="urn:schemas-upnp-org:control-1-0">'
                               "<return>%d</return></u:QueryStateVariableResponse>"
                               % (len(mappings) + args.entries_extra))
            return simhttp.Response(200, "OK", body, [("Content-Type", 'text/xml; charset="utf-8"')])
        if action == "GetGenericPortMappingEntry":
            index = arg(text, "NewPortMappingIndex")
            if index is None or not index.isdigit():
                return soap_error(402)
            if int(index) >= len(mappings):
                return soap_error(713)
            m = mappings[int(index)]
            inner = ("<NewRemoteHost></NewRemoteHost><NewExternalPort>%s</NewExternalPort>"
                     "<NewProtocol>%s</NewProtocol><NewInternalPort>%s</NewInternalPort>"
                     "<NewInternalClient>%s</NewInternalClient><NewEnabled>%s</NewEnabled>"
                     "<NewPortMappingDescription>%s</NewPortMappingDescription>"
                     "<NewLeaseDuration>0</NewLeaseDuration>"
                     % (m["external_port"], m["protocol"], m["internal_port"], m["internal_client"],
                        m["enabled"], m["description"]))
            return soap_ok(action, inner)
        if action == "AddPortMapping":
            fields = {k: arg(text, k) for k in ("NewExternalPort", "NewProtocol", "NewInternalPort",
                                                 "NewInternalClient", "NewEnabled",
                                                 "NewPortMappingDescription")}
            ext, proto = fields["NewExternalPort"], fields["NewProtocol"]
            if (any(v is None for v in fields.values()) or not ext.isdigit()
                    or not 0 < int(ext) < 65536 or proto not in ("TCP", "UDP")
                    or not (fields["NewInternalPort"] or "").isdigit()):
                return soap_error(402)
            existing = find(ext, proto)
            if existing and existing["internal_client"] != fields["NewInternalClient"]:
                return soap_error(718)
            record = {"external_port": ext, "protocol": proto,
                      "internal_port": fields["NewInternalPort"],
                      "internal_client": fields["NewInternalClient"],
                      "enabled": fields["NewEnabled"],
                      "description": fields["NewPortMappingDescription"]}
            if existing:
                existing.update(record)
            else:
                mappings.append(record)
            return soap_ok(action)
        if action == "DeletePortMapping":
            existing = find(arg(text, "NewExternalPort"), arg(text, "NewProtocol"))
            if not existing:
                return soap_error(714)
            mappings.remove(existing)
            return soap_ok(action)
        if action == "GetExternalIPAddress":
            if not args.external_address:
                return soap_error(501)
            return soap_ok(action, "<NewExternalIPAddress>%s</NewExternalIPAddress>"
                           % args.external_address)
        return soap_error(401)

    def handle(req):
        if req.method == "GET" and req.path in ("/rootDesc.xml", "/"):
            return simhttp.Response(200, "OK", desc, [("Content-Type", 'text/xml; charset="utf-8"')])
        if req.method == "POST" and req.path.startswith("/ctl/"):
            with state.lock:
                resp = control(req)
                state.data["requests"] = (state.data["requests"] + [
                    {"path": req.path, "head": req.raw_head,
                     "body": req.body.decode("utf-8", "replace"), "status": resp.status}])[-50:]
                state.save()
            return resp
        return simhttp.Response(404, "Not Found", "<html><body>not found</body></html>")

    server = simhttp.serve(args, handle, "igd_sim", error_body)
    http_port = server.server_address[1]

    udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    udp.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    udp.bind((args.address, args.ssdp_port))
    ssdp_port = udp.getsockname()[1]
    location = args.location_url or "http://%s:%d/rootDesc.xml" % (args.address, http_port)

    def ssdp_loop():
        while True:
            data, peer = udp.recvfrom(2048)
            text = data.decode("latin-1")
            if args.ssdp_silent or not text.startswith("M-SEARCH"):
                continue
            st = re.search(r"^ST:\s*(\S+)", text, re.M | re.I)
            if st and st.group(1) not in (WANIP, "ssdp:all", "upnp:rootdevice"):
                continue
            answer = ("HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=120\r\nST: %s\r\n"
                      "USN: uuid:6c1a3f0e-lab::%s\r\nEXT:\r\nSERVER: Linux UPnP/1.0 lab-igd/1.0\r\n"
                      "%s: %s\r\n\r\n" % (WANIP, WANIP, args.location_header, location))
            udp.sendto(answer.encode("latin-1"), peer)

    threading.Thread(target=ssdp_loop, daemon=True).start()
    simhttp.announce("igd_sim", server, "ssdp=%d" % ssdp_port)
    simhttp.run_forever(server)


def error_body(code):
    return (ENVELOPE % ("<s:Fault><faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring>"
                        '<detail><UPnPError xmlns="urn:schemas-upnp-org:control-1-0">'
                        "<errorCode>%d</errorCode><errorDescription>%s</errorDescription>"
                        "</UPnPError></detail></s:Fault>" % (code, ERRORS.get(code, "Error")))).encode()


if __name__ == "__main__":
    main()
