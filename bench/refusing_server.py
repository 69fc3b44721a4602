#!/usr/bin/env python3
"""An HTTP/1.1 server that refuses the suffix form of a range the way some object stores do:
"bytes=-N" gets 200 and the whole file, while "bytes=A-B" gets 206. The 200's body goes out in
64 KiB pieces until the client hangs up, and the log counts the body bytes the client's side
acknowledged (TCP_INFO's bytes_acked), which is what crossed the wire and what a client that
cuts such an answer off wastes; bytes the sending kernel took but never sent do not count.

Each request ends with one log line, as the benchmark's nginx writes them:
CONNECTION<TAB>STATUS<TAB>BODY_BYTES<TAB>RANGE<TAB>REQUEST_LINE
A request for a name starting "/.end-of-run-" is logged (404) only once every other request
has been, so that it marks the end of a run.

Usage: refusing_server.py --root DIR --log FILE --port-file FILE
"""
import argparse
import itertools
import os
import socket
import struct
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

args = None
log_lock = threading.Lock()
idle = threading.Condition()
busy = 0
connections = itertools.count(1)


def acked(sock):
    # struct tcp_info: tcpi_bytes_acked is the u64 at offset 120.
    try:
        return struct.unpack_from("Q", sock.getsockopt(socket.IPPROTO_TCP, socket.TCP_INFO, 256),
                                  120)[0]
    except OSError:
        return None


def log(conn, status, sent, rng, line):
    with log_lock, open(args.log, "a") as f:
        f.write(f"{conn}\t{status}\t{sent}\t{rng or '-'}\t{line}\n")


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *a):
        pass

    def setup(self):
        super().setup()
        self.conn = next(connections)

    def do_GET(self):
        global busy
        line, rng = self.requestline, self.headers.get("Range", "")
        if self.path.startswith("/.end-of-run-"):
            with idle:
                idle.wait_for(lambda: busy == 0, timeout=2)
            self.send_response(404)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return log(self.conn, 404, 0, rng, line)
        with idle:
            busy += 1
        try:
            self.answer(line, rng)
        finally:
            with idle:
                busy -= 1
                idle.notify_all()

    def answer(self, line, rng):
        path = os.path.join(args.root, self.path.lstrip("/"))
        if ".." in self.path or not os.path.isfile(path):
            self.send_response(404)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return log(self.conn, 404, 0, rng, line)
        size = os.path.getsize(path)
        first, last, status = 0, size - 1, 200
        if rng.startswith("bytes=") and not rng.startswith("bytes=-"):
            a, _, b = rng[6:].partition("-")
            first, last, status = int(a), min(int(b), size - 1), 206
        self.send_response(status)
        if status == 206:
            self.send_header("Content-Range", f"bytes {first}-{last}/{size}")
        self.send_header("Content-Length", str(last - first + 1))
        self.end_headers()
        self.wfile.flush()
        start = acked(self.connection)
        sent = 0
        try:
            with open(path, "rb") as f:
                f.seek(first)
                left = last - first + 1
                while left > 0:
                    piece = f.read(min(65536, left))
                    self.wfile.write(piece)
                    sent += len(piece)
                    left -= len(piece)
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True
            end = acked(self.connection)
            # The headers were acknowledged before the body began or with its first bytes.
            if start is not None and end is not None:
                sent = max(0, min(sent, end - start))
        log(self.conn, status, sent, rng, line)


def main():
    global args
    p = argparse.ArgumentParser()
    p.add_argument("--root", required=True)
    p.add_argument("--log", required=True)
    p.add_argument("--port-file", required=True)
    args = p.parse_args()
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    with open(args.port_file + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.rename(args.port_file + ".tmp", args.port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
