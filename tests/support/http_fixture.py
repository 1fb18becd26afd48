"""HTTP server for the tests: serves a folder on 127.0.0.1 and misbehaves on chosen paths.

Prints the port it listens on as its first line of output, then serves until it is terminated.
Every request (request line and headers) is appended to the log file given with --log.

--rule PATH=BEHAVIOUR, repeatable, where BEHAVIOUR is one of
  404, 500      answer with that status
  nolength      the file without a Content-Length header (the connection closes at its end)
  chunked       the file in chunked transfer encoding
  closeearly    announce the whole file, send half of it, close the connection
  stall         announce the whole file, send half of it, say nothing for 5 s, send the rest
  trickle       announce the whole file, send it one byte every 100 ms
  extra         announce the file's size but send 100 bytes more
  redirect:URL  answer 302 with Location URL
"""

import argparse
import os
import socket
import sys

from fixture_ports import listen_on_free_port
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import unquote, urlsplit


def make_handler(root, rules, log_path, log_lock):
    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, fmt, *args):
            pass

        def record(self):
            if not log_path:
                return
            with log_lock, open(log_path, "a", encoding="utf-8") as log:
                log.write(self.requestline + "\n" + str(self.headers) + "\n")

        def send_status(self, status, body=b""):
            self.send_response(status)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def send_slowly(self, source, size, rule):
            if rule == "stall":
                self.wfile.write(source.read(size // 2))
                self.wfile.flush()
                time.sleep(5)
                self.wfile.write(source.read())
                return
            while byte := source.read(1):
                self.wfile.write(byte)
                self.wfile.flush()
                time.sleep(0.1)

        def do_GET(self):
            self.record()
            path = unquote(urlsplit(self.path).path)
            rule = rules.get(path, "")
            if rule in ("404", "500"):
                self.send_status(int(rule), b"refused\n")
                return
            if rule.startswith("redirect:"):
                self.send_response(302)
                self.send_header("Location", rule[len("redirect:"):])
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            file = os.path.realpath(os.path.join(root, path.lstrip("/")))
            if not file.startswith(os.path.realpath(root)) or not os.path.isfile(file):
                self.send_status(404, b"not found\n")
                return
            size = os.path.getsize(file)
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            if rule == "nolength":
                self.send_header("Connection", "close")
                self.close_connection = True
            elif rule == "chunked":
                self.send_header("Transfer-Encoding", "chunked")
            else:
                self.send_header("Content-Length", str(size))
            self.end_headers()
            with open(file, "rb") as source:
                if rule == "closeearly":
                    self.wfile.write(source.read(size // 2))
                    self.wfile.flush()
                    self.close_connection = True
                    self.connection.shutdown(socket.SHUT_RDWR)
                    return
                if rule in ("stall", "trickle"):
                    try:
                        self.send_slowly(source, size, rule)
                    except OSError:
                        self.close_connection = True  # the client gave up
                    return
                if rule == "chunked":
                    while block := source.read(7000):
                        self.wfile.write(b"%x\r\n%s\r\n" % (len(block), block))
                    self.wfile.write(b"0\r\n\r\n")
                    return
                if rule == "extra":
                    self.wfile.write(source.read() + b"x" * 100)
                    return
                # Exactly the announced bytes: a test may rewrite the file as soon as the client
                # has them, and reading on to the end would then send the new content as well.
                left = size
                while left > 0:
                    block = source.read(min(left, 1 << 20))
                    if not block:
                        break
                    self.wfile.write(block)
                    left -= len(block)

    return Handler


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--log", default="")
    parser.add_argument("--rule", action="append", default=[])
    args = parser.parse_args()
    rules = {}
    for rule in args.rule:
        path, _, behaviour = rule.partition("=")
        rules[path] = behaviour
    handler = make_handler(args.root, rules, args.log, threading.Lock())
    server = listen_on_free_port(lambda port: ThreadingHTTPServer(("127.0.0.1", port), handler))
    server.daemon_threads = True
    print(server.server_address[1], flush=True)
    sys.stdout.close()
    server.serve_forever()


if __name__ == "__main__":
    main()
