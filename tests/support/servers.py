"""Servers for the tests on 127.0.0.1: `ftp` (pyftpdlib, one user with full rights on a folder;
an upload to a name starting with "cutoff" is broken off after 16 KiB, as on a full disk;
--no-mlsd offers LIST only; --no-active refuses PORT and EPRT, as servers behind a firewall
do) or `http` (a folder over HTTP/1.1, every request appended to --log, --redirect PATH=URL
answering 302, repeatable). Servers that misbehave on purpose are in fault_proxy.py.

Each listens on a free port above 32767 (so every test shows such ports work), prints the port
as its first line and serves until it is terminated.
"""

import argparse
import errno
import os
import random
import socket
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import unquote, urlsplit


def listen_on_free_port(create):
    for _ in range(500):
        try:
            return create(random.randint(32768, 65535))
        except OSError:
            continue
    raise SystemExit("no free port above 32767")


def serve_ftp(args):
    import logging
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.filesystems import AbstractedFS
    from pyftpdlib.handlers import FTPHandler
    from pyftpdlib.servers import FTPServer

    class CutOffFile:
        def __init__(self, inner):
            self._inner = inner
            self._written = 0

        def write(self, data):
            self._written += len(data)
            if self._written > 16384:
                raise OSError(errno.ENOSPC, os.strerror(errno.ENOSPC))
            return self._inner.write(data)

        def __getattr__(self, name):
            return getattr(self._inner, name)

    class FixtureFS(AbstractedFS):
        def open(self, filename, mode):
            opened = super().open(filename, mode)
            if "w" in mode and os.path.basename(filename).startswith("cutoff"):
                return CutOffFile(opened)
            return opened

    class Handler(FTPHandler):
        pass

    Handler.authorizer = DummyAuthorizer()
    Handler.authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    Handler.abstracted_fs = FixtureFS
    Handler.auth_failed_timeout = 0  # answer a wrong password at once
    Handler.timeout = 120
    if args.no_mlsd:
        Handler.proto_cmds = {k: v for k, v in FTPHandler.proto_cmds.items()
                              if k not in ("MLSD", "MLST")}
    if args.no_active:
        Handler.proto_cmds = {k: v for k, v in Handler.proto_cmds.items()
                              if k not in ("PORT", "EPRT")}
    logging.basicConfig(level=logging.ERROR)
    server = listen_on_free_port(lambda port: FTPServer(("127.0.0.1", port), Handler))
    server.max_cons = 64
    print(server.address[1], flush=True)
    sys.stdout.close()
    server.serve_forever(handle_exit=True)


def make_http_handler(root, redirects, drops, log_path):
    log_lock = threading.Lock()

    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, fmt, *args):
            pass

        def do_GET(self):
            with log_lock, open(log_path, "a", encoding="utf-8") as log:
                log.write(self.requestline + "\n" + str(self.headers) + "\n")
            path = unquote(urlsplit(self.path).path)
            file = os.path.realpath(os.path.join(root, path.lstrip("/")))
            if path in redirects:
                self.send_response(302)
                self.send_header("Location", redirects[path])
            elif not file.startswith(os.path.realpath(root)) or not os.path.isfile(file):
                self.send_response(404)
            else:
                size = os.path.getsize(file)
                self.send_response(200)
                self.send_header("Content-Type", "application/octet-stream")
                self.send_header("Content-Length", str(size))
                self.end_headers()
                # Exactly the announced bytes: a test may rewrite the file as soon as the client
                # has them, and reading on to the end would then send the new content as well.
                with open(file, "rb") as source:
                    if path in drops:  # half the announced file, then the connection goes
                        self.wfile.write(source.read(size // 2))
                        self.wfile.flush()
                        self.close_connection = True
                        self.connection.shutdown(socket.SHUT_RDWR)
                        return
                    left = size
                    while left > 0 and (block := source.read(min(left, 1 << 20))):
                        self.wfile.write(block)
                        left -= len(block)
                return
            self.send_header("Content-Length", "0")
            self.end_headers()

    return Handler


def serve_http(args):
    redirects = dict(rule.partition("=")[::2] for rule in args.redirect)
    handler = make_http_handler(args.root, redirects, set(args.drop_at_half), args.log)
    server = listen_on_free_port(lambda port: ThreadingHTTPServer(("127.0.0.1", port), handler))
    server.daemon_threads = True
    print(server.server_address[1], flush=True)
    sys.stdout.close()
    server.serve_forever()


def main():
    parser = argparse.ArgumentParser()
    kinds = parser.add_subparsers(dest="kind", required=True)
    ftp = kinds.add_parser("ftp")
    ftp.add_argument("--root", required=True)
    ftp.add_argument("--user", required=True)
    ftp.add_argument("--password", required=True)
    ftp.add_argument("--no-mlsd", action="store_true")
    ftp.add_argument("--no-active", action="store_true")
    http = kinds.add_parser("http")
    http.add_argument("--root", required=True)
    http.add_argument("--log", required=True)
    http.add_argument("--redirect", action="append", default=[])
    http.add_argument("--drop-at-half", action="append", default=[])
    args = parser.parse_args()
    serve_ftp(args) if args.kind == "ftp" else serve_http(args)


if __name__ == "__main__":
    main()
