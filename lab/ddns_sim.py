#!/usr/bin/env python3
"""Simulator of the DDNS registration server (lab and integration tests).

POST /quarno_ddns/ddns_main.php with the service's Basic credential; actions
register, delete and get_by_mac over a table keyed by the router's MAC,
persistent in --state-file. See lab/README.md.
"""

import os
import re
import sys
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import simhttp  # noqa: E402

MAC_RE = re.compile(r"^[0-9A-F]{2}(:[0-9A-F]{2}){5}$")
NAME_RE = re.compile(r"^[a-z0-9][a-z0-9-]{0,62}$")


def main():
    p = simhttp.make_parser(__doc__, 80)
    p.add_argument("--credential", default="Tq7mRw2LxK9vNc4HbZ8sYp3D",
                   help="the Basic credential the script wants")
    p.add_argument("--suffix", default="quarno.ralmek.co.kr",
                   help="the domain suffix registered names end with")
    p.add_argument("--script", default="/quarno_ddns/ddns_main.php")
    p.add_argument("--upper", action="store_true",
                   help='answer in upper case ("OK", "NULL", "GOOD;...")')
    p.add_argument("--no-body-tag", action="store_true",
                   help="answer pages without <body> ... </body>")
    p.add_argument("--register-answer", default="",
                   help='fixed answer to every register, e.g. "good;0;1" (the table is unchanged)')
    args = p.parse_args()

    state = simhttp.State(args.state_file, {"records": {}, "requests": []})

    def page(text, status=200, reason="OK"):
        if args.upper:
            text = text.upper()
        if args.no_body_tag:
            html = "<html>\r\n<p>%s</p>\r\n</html>\r\n" % text
        else:
            html = ("<html>\r\n<head><title>ddns</title></head>\r\n<body>\r\n%s\r\n"
                    "</body>\r\n</html>\r\n" % text)
        return simhttp.Response(status, reason, html, [("Content-Type", "text/html")])

    def name_of(domain):
        suffix = "." + args.suffix.lower()
        domain = domain.lower()
        if not domain.endswith(suffix):
            return None
        name = domain[: -len(suffix)]
        return name if NAME_RE.match(name) else None

    def register(f):
        domain, mac, email = f.get("domain", ""), f.get("hinfo", ""), f.get("email", "")
        name = name_of(domain)
        ftp = re.match(r"^(\d{1,5}):1$", f.get("ftp_ext_port", ""))
        http = re.match(r"^\d{1,5}$", f.get("http_port", ""))
        if (not name or not MAC_RE.match(mac) or not ftp or not http or "@" not in email
                or f.get("account", "") != name + ":" or f.get("model") != "QUARNO_PC_SERVER"):
            return "!badsys"
        if args.register_answer:
            return args.register_answer
        domain, email = domain.lower(), email.lower()
        records = state.data["records"]
        for other_mac, rec in records.items():
            if rec["domain"] == domain and (other_mac != mac or rec["email"] != email):
                return "!yours"
        ftp_port, http_port = str(int(ftp.group(1))), str(int(http.group(0)))
        records[mac] = {"domain": domain, "email": email, "ftp_port": ftp_port,
                        "http_port": http_port}
        return "good;%s;%s" % (ftp_port, http_port)

    def delete(f):
        mac = f.get("hinfo", "")
        rec = state.data["records"].get(mac)
        if (rec and rec["domain"] == f.get("domain", "").lower()
                and rec["email"] == f.get("email", "").lower()):
            del state.data["records"][mac]
            return "ok"
        return "fail"

    def get_by_mac(f):
        rec = state.data["records"].get(f.get("hinfo", ""))
        if not rec:
            return "null"
        return "%s;%s;%s;%s" % (rec["domain"], rec["email"], rec["ftp_port"], rec["http_port"])

    def handle(req):
        if req.method != "POST" or req.path != args.script:
            return page("not found", 404, "Not Found")
        if req.headers.get("authorization", "") != "Basic " + args.credential:
            return page("unauthorized", 401, "Unauthorized")
        text = req.body.decode("utf-8", "replace")
        fields = {k: v[-1] for k, v in urllib.parse.parse_qs(
            text, keep_blank_values=True).items()}
        action = fields.get("action", "")
        with state.lock:
            if action == "register":
                answer = register(fields)
            elif action == "delete":
                answer = delete(fields)
            elif action == "get_by_mac":
                answer = get_by_mac(fields) if MAC_RE.match(fields.get("hinfo", "")) else "!badsys"
            else:
                answer = "!badsys"
            state.data["requests"] = (state.data["requests"] + [
                {"raw_body": text, "fields": fields, "answer": answer,
                 "host": req.headers.get("host", "")}])[-100:]
            state.save()
        return page(answer)

    server = simhttp.serve(args, handle, "ddns_sim")
    simhttp.announce("ddns_sim", server)
    simhttp.run_forever(server)


if __name__ == "__main__":
    main()
