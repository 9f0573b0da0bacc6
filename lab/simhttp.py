"""Small raw HTTP server shared by the lab simulators.

The clients under test send fixed bytes that general HTTP servers frown upon
(no Host header, extra blank lines, bare request lines), and the tests need
faults on demand, so the simulators read and write the bytes themselves.
Python 3 standard library only.
"""

import argparse
import json
import os
import socket
import socketserver
import sys
import threading
import time

MAX_BODY = 64 * 1024 * 1024


class Request:
    def __init__(self, method, target, version, headers, body, raw_head, peer):
        self.method = method
        self.target = target
        self.version = version
        self.headers = headers  # lower-case name -> value (last wins)
        self.body = body
        self.raw_head = raw_head
        self.peer = peer

    @property
    def path(self):
        return self.target.split("?", 1)[0]

    @property
    def query(self):
        return self.target.split("?", 1)[1] if "?" in self.target else ""


class Response:
    def __init__(self, status=200, reason="OK", body=b"", headers=None,
                 content_length=True, bare=False):
        self.bare = bare  # the body alone, no status line nor header (HTTP/0.9 style)
        self.status = status
        self.reason = reason
        self.body = body if isinstance(body, bytes) else body.encode("utf-8")
        self.headers = list(headers or [])
        self.content_length = content_length

    def head_bytes(self, announced=None):
        if self.bare:
            return b""
        lines = ["HTTP/1.1 %d %s" % (self.status, self.reason)]
        lines += ["%s: %s" % (k, v) for k, v in self.headers]
        if self.content_length:
            n = len(self.body) if announced is None else announced
            lines.append("Content-Length: %d" % n)
        lines.append("Connection: close")
        return ("\r\n".join(lines) + "\r\n\r\n").encode("utf-8")


def add_common_arguments(parser, default_port):
    parser.add_argument("--address", "--bind", dest="address", default="127.0.0.1",
                        help="address to listen on (loopback in tests, a namespace address in the lab)")
    parser.add_argument("--port", type=int, default=default_port,
                        help="TCP port (0 picks a free one; the LISTENING line names it)")
    parser.add_argument("--state-file", "--state", dest="state_file", default=None,
                        help="JSON file holding the simulator's state and what it received")
    faults = parser.add_argument_group("fault switches")
    faults.add_argument("--fault-path", default="",
                        help="apply the faults only to requests whose path starts with this")
    faults.add_argument("--delay", type=float, default=0.0,
                        help="seconds to wait before answering")
    faults.add_argument("--silence", action="store_true",
                        help="read the request, never answer (connection held until the client leaves)")
    faults.add_argument("--close-early", action="store_true",
                        help="read the request and close without answering")
    faults.add_argument("--short-body", type=int, default=0, metavar="N",
                        help="announce N bytes more in Content-Length than are sent, then close")
    faults.add_argument("--split-after-header", action="store_true",
                        help="send the header, wait --split-delay, then the body")
    faults.add_argument("--split-at", type=int, default=0, metavar="N",
                        help="send the first N bytes, wait --split-delay, then the rest")
    faults.add_argument("--split-delay", type=float, default=0.3)
    faults.add_argument("--http-500", action="store_true",
                        help="answer every request with HTTP 500 (an errorCode body where the peer has one)")
    faults.add_argument("--error-code", type=int, default=501,
                        help="errorCode of --http-500 answers (UPnP gateway)")


class State:
    """A JSON document kept in memory and, when a file is given, on disk."""

    def __init__(self, path, initial):
        self.path = path
        self.lock = threading.RLock()
        self.data = initial
        if path and os.path.exists(path):
            try:
                with open(path, "r", encoding="utf-8") as f:
                    loaded = json.load(f)
                if isinstance(loaded, dict):
                    self.data.update(loaded)
            except (OSError, ValueError) as e:
                print("state file %s unreadable (%s); starting empty" % (path, e), file=sys.stderr)
        self.save()

    def save(self):
        if not self.path:
            return
        with self.lock:
            tmp = self.path + ".tmp"
            with open(tmp, "w", encoding="utf-8") as f:
                json.dump(self.data, f, indent=1, sort_keys=True)
                f.flush()
                os.fsync(f.fileno())
            os.replace(tmp, self.path)


def read_request(sock, timeout=10.0):
    sock.settimeout(timeout)
    data = b""
    while b"\r\n\r\n" not in data and b"\n\n" not in data:
        try:
            chunk = sock.recv(4096)
        except OSError:
            chunk = b""
        if not chunk:
            break
        data += chunk
        if len(data) > 65536:
            return None
    if not data:
        return None
    end = data.find(b"\r\n\r\n")
    sep = 4
    if end < 0:
        end = data.find(b"\n\n")
        sep = 2
    if end < 0:
        end, sep = len(data), 0
    head = data[:end].decode("latin-1")
    rest = data[end + sep:]
    lines = head.replace("\r\n", "\n").split("\n")
    parts = lines[0].split()
    if len(parts) < 2:
        return None
    method, target = parts[0], parts[1]
    version = parts[2] if len(parts) > 2 else ""
    headers = {}
    for line in lines[1:]:
        if ":" in line:
            k, v = line.split(":", 1)
            headers[k.strip().lower()] = v.strip()
    length = 0
    if "content-length" in headers:
        try:
            length = int(headers["content-length"])
        except ValueError:
            length = -1
    if length < 0 or length > MAX_BODY:
        return Request(method, target, version, headers, None, head, None)
    while len(rest) < length:
        try:
            chunk = sock.recv(65536)
        except OSError:
            break
        if not chunk:
            break
        rest += chunk
    return Request(method, target, version, headers, rest[:length], head, None)


def serve(args, handle, name, error_body=None):
    """Runs the TCP server until killed. `handle(request) -> Response`."""

    class Handler(socketserver.BaseRequestHandler):
        def handle(self):
            sock = self.request
            req = read_request(sock)
            if req is None:
                return
            req.peer = self.client_address[0]
            faulty = req.path.startswith(args.fault_path)
            if req.body is None:
                resp = Response(400, "Bad Request", b"<html><body>bad length</body></html>")
            elif faulty and args.http_500:
                body = error_body(args.error_code) if error_body else b"<html><body>error</body></html>"
                resp = Response(500, "Internal Server Error", body,
                                [("Content-Type", "text/xml; charset=\"utf-8\"")])
            else:
                try:
                    resp = handle(req)
                except Exception as e:  # a simulator bug must not hang the client
                    print("%s: handler failed: %r" % (name, e), file=sys.stderr)
                    resp = Response(500, "Internal Server Error", b"<html><body>simulator error</body></html>")
            if faulty and args.delay > 0:
                time.sleep(args.delay)
            if faulty and args.close_early:
                return
            if faulty and args.silence:
                sock.settimeout(60)
                try:
                    while sock.recv(4096):
                        pass
                except OSError:
                    pass
                return
            announced = None
            if faulty and args.short_body > 0:
                announced = len(resp.body) + args.short_body
            head = resp.head_bytes(announced)
            payload = head + resp.body
            try:
                if faulty and args.split_after_header:
                    sock.sendall(head)
                    time.sleep(args.split_delay)
                    sock.sendall(resp.body)
                elif faulty and args.split_at > 0:
                    sock.sendall(payload[:args.split_at])
                    time.sleep(args.split_delay)
                    sock.sendall(payload[args.split_at:])
                else:
                    sock.sendall(payload)
                sock.shutdown(socket.SHUT_WR)
                # Let the client read before the socket goes (it may reset it).
                sock.settimeout(2)
                while sock.recv(4096):
                    pass
            except OSError:
                pass

    class Server(socketserver.ThreadingMixIn, socketserver.TCPServer):
        allow_reuse_address = True
        daemon_threads = True

    server = Server((args.address, args.port), Handler)
    return server


def announce(name, server, extra=""):
    host, port = server.server_address[:2]
    print("LISTENING %s %d %s" % (host, port, extra), flush=True)
    print("%s: listening on %s:%d" % (name, host, port), file=sys.stderr, flush=True)


def run_forever(*servers):
    threads = []
    for s in servers[1:]:
        t = threading.Thread(target=s.serve_forever, daemon=True)
        t.start()
        threads.append(t)
    try:
        servers[0].serve_forever()
    except KeyboardInterrupt:
        pass


def make_parser(description, default_port):
    parser = argparse.ArgumentParser(description=description)
    add_common_arguments(parser, default_port)
    return parser
