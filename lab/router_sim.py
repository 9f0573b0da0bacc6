#!/usr/bin/env python3
"""Simulator of the maker's router HTTP interface (lab and integration tests).

Answers "/checkup", "/version", the sysinfo request with HTTP Basic,
"/ddns/ddns_apply.cgi" (every query recorded) and the firmware upload and
installation of "/cgi-bin/upgrade.cgi". See lab/README.md.
"""

import base64
import hashlib
import os
import re
import sys
import threading
import time
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import simhttp  # noqa: E402


def main():
    p = simhttp.make_parser(__doc__, 80)
    p.add_argument("--model", default="ZQ300", help="model name sent as the /checkup body")
    p.add_argument("--checkup-status", default="200 OK",
                   help='status of /checkup, e.g. "404 Not Found" for a gateway of another maker')
    p.add_argument("--firmware", default="8.34", help="body of /version")
    p.add_argument("--version-no-length", action="store_true",
                   help="answer /version without a Content-Length header")
    p.add_argument("--admin", default="", metavar="USER:PASSWORD",
                   help="administrator account; when set, sysinfo and upgrade.cgi want HTTP Basic")
    p.add_argument("--ddns-page", default="<html><head><title>DDNS</title></head>"
                   "<body>\n  OK  \n</body></html>",
                   help="page answered to /ddns/ddns_apply.cgi")
    p.add_argument("--upload-dir", default="",
                   help="where uploaded firmware files are stored (default: beside the state file)")
    p.add_argument("--install-seconds", type=float, default=3.0,
                   help="after an upload /checkup answers 6; after GET upgrade.cgi it answers 5 for this long, then the model again")
    p.add_argument("--never-take", action="store_true",
                   help="accept uploads but never report them taken (/checkup keeps the model)")
    args = p.parse_args()

    state = simhttp.State(args.state_file, {
        "ddns_requests": [], "uploads": [], "phase": "idle", "phase_since": 0.0,
        "sysinfo_requests": 0,
    })
    upload_dir = args.upload_dir or (os.path.dirname(os.path.abspath(args.state_file))
                                     if args.state_file else "")
    lock = threading.Lock()
    expected_auth = ("Basic " + base64.b64encode(args.admin.encode("utf-8")).decode("ascii")
                     if args.admin else "")

    def authorized(req):
        return not expected_auth or req.headers.get("authorization", "") == expected_auth

    def unauthorized():
        return simhttp.Response(401, "Unauthorized", "<html><body>401 Unauthorized</body></html>",
                                [("WWW-Authenticate", 'Basic realm="router"')])

    def checkup_body():
        with state.lock:
            phase = state.data["phase"]
            since = state.data["phase_since"]
            if phase == "taken":
                return "6"
            if phase == "installing":
                if time.time() - since < args.install_seconds:
                    return "5"
                state.data["phase"] = "idle"
                state.save()
        return args.model

    def handle(req):
        path = req.path
        if req.method == "GET" and path == "/checkup":
            status, _, reason = args.checkup_status.partition(" ")
            return simhttp.Response(int(status), reason or "OK", checkup_body())
        if req.method == "GET" and path == "/version":
            return simhttp.Response(200, "OK", args.firmware,
                                    content_length=not args.version_no_length)
        if req.method == "GET" and path == "/cgi-bin/corvane.cgi":
            with state.lock:
                state.data["sysinfo_requests"] += 1
                state.save()
            if not authorized(req):
                return unauthorized()
            return simhttp.Response(200, "OK", "<html><body>sysinfo</body></html>")
        if req.method == "GET" and path == "/ddns/ddns_apply.cgi":
            params = urllib.parse.parse_qs(req.query, keep_blank_values=True)
            with state.lock:
                state.data["ddns_requests"].append({
                    "raw_query": req.query,
                    "params": {k: v[-1] for k, v in params.items()},
                    "raw_head": req.raw_head,
                })
                state.save()
            return simhttp.Response(200, "OK", args.ddns_page,
                                    [("Content-Type", "text/html")])
        if path == "/cgi-bin/upgrade.cgi":
            if not authorized(req):
                return unauthorized()
            if req.method == "POST":
                return upload(req)
            if req.method == "GET":
                with state.lock:
                    if state.data["phase"] != "taken":
                        return simhttp.Response(409, "Conflict",
                                                "<html><body>no firmware</body></html>")
                    state.data["phase"] = "installing"
                    state.data["phase_since"] = time.time()
                    state.save()
                return simhttp.Response(200, "OK", "<html><body>installing</body></html>")
        return simhttp.Response(404, "Not Found", "<html><body>not found</body></html>")

    def upload(req):
        ctype = req.headers.get("content-type", "")
        m = re.search(r"boundary=([^;\s]+)", ctype)
        if not ctype.lower().startswith("multipart/form-data") or not m:
            return simhttp.Response(400, "Bad Request", "<html><body>not multipart</body></html>")
        boundary = m.group(1).strip('"').encode("latin-1")
        data = req.body
        delim = b"--" + boundary
        if not data.startswith(delim):
            return simhttp.Response(400, "Bad Request", "<html><body>bad form</body></html>")
        end_marker = b"\r\n" + delim + b"--"
        end = data.find(end_marker)
        if end < 0:
            return simhttp.Response(400, "Bad Request", "<html><body>form not ended</body></html>")
        part = data[len(delim) + 2:end]
        head_end = part.find(b"\r\n\r\n")
        if head_end < 0:
            return simhttp.Response(400, "Bad Request", "<html><body>bad part</body></html>")
        head = part[:head_end].decode("latin-1")
        content = part[head_end + 4:]
        disp = re.search(r'Content-Disposition:\s*form-data;\s*name="([^"]*)"'
                         r'(?:;\s*filename="([^"]*)")?', head, re.I)
        if not disp or disp.group(1) != "upgrade" or not disp.group(2):
            return simhttp.Response(400, "Bad Request", "<html><body>no upgrade field</body></html>")
        filename = os.path.basename(disp.group(2))
        record = {"filename": filename, "size": len(content),
                  "sha256": hashlib.sha256(content).hexdigest(),
                  "content_length": len(req.body)}
        if upload_dir:
            with open(os.path.join(upload_dir, "upload-" + filename), "wb") as f:
                f.write(content)
        with state.lock:
            state.data["uploads"].append(record)
            state.data["phase"] = "idle" if args.never_take else "taken"
            state.data["phase_since"] = time.time()
            state.save()
        return simhttp.Response(200, "OK", "<html><body>upload ok</body></html>")

    server = simhttp.serve(args, handle, "router_sim")
    simhttp.announce("router_sim", server)
    simhttp.run_forever(server)


if __name__ == "__main__":
    main()
