#!/usr/bin/env python3
"""Simulator of the maker's download servers (firmware and program updates).

Serves the files of --root under their paths ("/online_upgrade/<file>").
A bare request line without a protocol version ("GET /path" and a blank
line) gets the file's bytes alone, without status line or header, as the
version checks expect; ordinary HTTP/1.x requests (libcurl downloads) get a
normal answer. --version and --program-version publish version files
without writing them first. With --sign-key, the signed manifests beside
them (quarno_pcserver_setup.manifest, MODEL.manifest) are made on request by
scripts/sign-update.sh from the files as they are then; --manifest-* options
bend them for the refusal tests. Files answer with an ETag and a
Last-Modified and honour If-Range. See lab/README.md.
"""

import hashlib
import os
import posixpath
import re
import subprocess
import sys
import tempfile
import time
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import simhttp  # noqa: E402


def main():
    p = simhttp.make_parser(__doc__, 80)
    p.add_argument("--root", default="", help="folder whose files are served")
    p.add_argument("--version", action="append", default=[], metavar="MODEL=VERSION",
                   help="publish /online_upgrade/MODEL.version (repeatable)")
    p.add_argument("--program-version", default="",
                   help="publish /online_upgrade/quarno_pcserver_setup.version")
    p.add_argument("--sha256", action="store_true",
                   help="publish PATH.sha256 (hex digest, two blanks, file name) beside every served file")
    p.add_argument("--sha256-wrong", action="store_true",
                   help="like --sha256, but every published digest is wrong")
    p.add_argument("--no-range", action="store_true",
                   help="ignore Range headers (always the whole file with 200)")
    p.add_argument("--sign-key", default="",
                   help="private Ed25519 key (PEM) to sign the manifests with")
    p.add_argument("--manifest-version", default="",
                   help="version written into the manifests instead of the published one")
    p.add_argument("--manifest-min-version", default="0")
    p.add_argument("--manifest-expires", default="",
                   help="expiry of the manifests (default: in 30 days)")
    p.add_argument("--tamper-manifest", action="store_true",
                   help="change one byte of every manifest after signing it")
    p.add_argument("--no-validator", action="store_true",
                   help="send neither ETag nor Last-Modified")
    p.add_argument("--redirect", action="append", default=[], metavar="PATH=URL",
                   help="answer PATH with 302 to URL (repeatable)")
    args = p.parse_args()
    signer = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts",
                          "sign-update.sh")
    redirects = dict(item.partition("=")[::2] for item in args.redirect)
    manifests = {}  # path -> (file path below /online_upgrade, version, model or "")
    if args.program_version:
        v = args.program_version.strip()
        manifests["/online_upgrade/quarno_pcserver_setup.manifest"] = (
            "/online_upgrade/quarno_pcserver_setup_%s.deb" % v, v, "")
    for item in args.version:
        model, _, version = item.partition("=")
        manifests["/online_upgrade/%s.manifest" % model] = (
            "/online_upgrade/%s_%s.bin" % (model, version.replace(".", "_")), version, model)

    published = {}
    for item in args.version:
        model, _, version = item.partition("=")
        published["/online_upgrade/%s.version" % model] = version.encode("utf-8")
    if args.program_version:
        published["/online_upgrade/quarno_pcserver_setup.version"] = \
            args.program_version.encode("utf-8")
    state = simhttp.State(args.state_file, {"requests": []})
    root = os.path.realpath(args.root) if args.root else ""

    def lookup(path):
        if path in published:
            return published[path]
        if not root:
            return None
        clean = posixpath.normpath(urllib.parse.unquote(path)).lstrip("/")
        full = os.path.realpath(os.path.join(root, clean))
        if not full.startswith(root + os.sep) or not os.path.isfile(full):
            return None  # outside the root, or no such file
        with open(full, "rb") as f:
            return f.read()

    def manifest_of(path):
        if not args.sign_key or path not in manifests:
            return None
        file_path, version, model = manifests[path]
        data = lookup(file_path)
        if data is None:
            return None
        with tempfile.NamedTemporaryFile(prefix="download_sim.", delete=False) as f:
            f.write(data)
        try:
            cmd = ["bash", signer, "manifest", args.sign_key, f.name,
                   args.manifest_version or version, "--name", posixpath.basename(file_path),
                   "--min-version", args.manifest_min_version]
            if model:
                cmd += ["--firmware", model]
            if args.manifest_expires:
                cmd += ["--expires", args.manifest_expires]
            text = subprocess.run(cmd, check=True, capture_output=True).stdout
        finally:
            os.unlink(f.name)
        if args.tamper_manifest:
            text = text.replace(b"size: ", b"size: 1", 1)
        return text

    def validators(data):
        if args.no_validator:
            return []
        digest = hashlib.sha256(data).hexdigest()
        # A date that changes with the content, as a file's modification time would.
        when = time.gmtime(1767225600 + int(digest[:6], 16))
        return [("ETag", '"%s"' % digest[:20]),
                ("Last-Modified", time.strftime("%a, %d %b %Y %H:%M:%S GMT", when))]

    def digest_of(path):
        if not (args.sha256 or args.sha256_wrong) or not path.endswith(".sha256"):
            return None
        data = lookup(path[:-len(".sha256")])
        if data is None:
            return None
        digest = hashlib.sha256(data).hexdigest()
        if args.sha256_wrong:
            digest = hashlib.sha256(data + b"x").hexdigest()
        return ("%s  %s\n" % (digest, posixpath.basename(path[:-len(".sha256")]))).encode()

    def ranged(req, data):
        """206 for a satisfiable "bytes=N-" range, 416 past the end, else None."""
        m = re.fullmatch(r"bytes=(\d+)-", req.headers.get("range", "").strip())
        if args.no_range or not m:
            return None
        if_range = req.headers.get("if-range", "").strip()
        if if_range and if_range not in [v for _, v in validators(data)]:
            return None  # the file changed since the part began: all of it
        start = int(m.group(1))
        if start >= len(data):
            return simhttp.Response(416, "Range Not Satisfiable", b"",
                                    [("Content-Range", "bytes */%d" % len(data))])
        return simhttp.Response(206, "Partial Content", data[start:],
                                [("Content-Type", "application/octet-stream"),
                                 ("Content-Range", "bytes %d-%d/%d" % (start, len(data) - 1,
                                                                       len(data)))] +
                                validators(data))

    def handle(req):
        with state.lock:
            state.data["requests"] = (state.data["requests"] + [
                {"line": req.raw_head.split("\n", 1)[0].rstrip("\r"),
                 "range": req.headers.get("range", ""),
                 "if_range": req.headers.get("if-range", "")}])[-100:]
            state.save()
        bare = not req.version.startswith("HTTP/")
        if req.method != "GET":
            return simhttp.Response(405, "Method Not Allowed", b"", bare=bare)
        if req.path in redirects and not bare:
            return simhttp.Response(302, "Found", b"", [("Location", redirects[req.path])])
        data = lookup(req.path)
        if data is None:
            data = manifest_of(req.path)
        if data is None:
            data = digest_of(req.path)
        if data is not None and not bare:
            partial = ranged(req, data)
            if partial is not None:
                return partial
        if data is None:
            return simhttp.Response(404, "Not Found", b"" if bare else
                                    b"<html><body>not found</body></html>", bare=bare)
        return simhttp.Response(200, "OK", data, [("Content-Type", "application/octet-stream")] +
                                validators(data), bare=bare)

    server = simhttp.serve(args, handle, "download_sim")
    simhttp.announce("download_sim", server)
    simhttp.run_forever(server)


if __name__ == "__main__":
    main()
