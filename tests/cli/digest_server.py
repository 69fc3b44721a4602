#!/usr/bin/python3
"""A web server that answers byte ranges of one folder's files, only with Digest credentials.

usage: digest_server.py ROOT USER PASSWORD PORT LOG
Listens on 127.0.0.1:PORT; each request's first line and Authorization scheme go to LOG. Ends on
SIGTERM.
"""
import hashlib
import http.server
import os
import re
import signal
import sys

ROOT, USER, PASSWORD, PORT, LOG = sys.argv[1:6]
REALM, NONCE = "fennic-test", "5b1f0a3c9d"


def md5(text):
    return hashlib.md5(text.encode()).hexdigest()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def authorized(self):
        header = self.headers.get("Authorization", "")
        with open(LOG, "a") as log:
            log.write("%s %s\n" % (self.requestline, header.split(" ")[0] or "-"))
        if not header.startswith("Digest "):
            return False
        fields = dict(re.findall(r'(\w+)="?([^",]*)"?', header[7:]))
        ha1 = md5("%s:%s:%s" % (USER, REALM, PASSWORD))
        ha2 = md5("GET:%s" % fields.get("uri", ""))
        want = md5("%s:%s:%s:%s:%s:%s" % (ha1, NONCE, fields.get("nc", ""),
                                           fields.get("cnonce", ""), fields.get("qop", ""), ha2))
        return fields.get("username") == USER and fields.get("response") == want

    def do_GET(self):
        if not self.authorized():
            body = b"who are you?"
            self.send_response(401)
            self.send_header("WWW-Authenticate",
                             'Digest realm="%s", nonce="%s", qop="auth", algorithm=MD5'
                             % (REALM, NONCE))
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        data = open(os.path.join(ROOT, os.path.basename(self.path)), "rb").read()
        size = len(data)
        m = re.fullmatch(r"bytes=(\d*)-(\d*)", self.headers.get("Range", ""))
        first, last = 0, size - 1
        if m and m.group(1) == "":
            first = max(0, size - int(m.group(2)))
        elif m:
            first = int(m.group(1))
            last = min(size - 1, int(m.group(2))) if m.group(2) else size - 1
        self.send_response(206)
        self.send_header("Content-Range", "bytes %d-%d/%d" % (first, last, size))
        self.send_header("Content-Length", str(last - first + 1))
        self.end_headers()
        self.wfile.write(data[first:last + 1])


server = http.server.HTTPServer(("127.0.0.1", int(PORT)), Handler)
signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
server.serve_forever()
