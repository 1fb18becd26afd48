"""Misbehaving servers for the fault tests, on 127.0.0.1, one fault on one file.

  --http PORT --fault F --path /dir/file   an HTTP proxy in front of the server on PORT: replies
                                           for /dir/file come with fault F, others pass unchanged
  --ftp ROOT --fault F --path file         an FTP server (user tandor, password secret) that
                                           refuses active mode (no PORT, no EPRT) and sends files
                                           named `file` with fault F

Faults: none; drop (HTTP: the first 64 bytes of the reply, then a reset; FTP: 426 after at most
10000 bytes); stall (HTTP: no byte of the reply; FTP: silence after 10000 bytes); trickle (a
byte every 100 ms for 30 s, then the rest at once); short (half the file, then the end as if
complete); and for HTTP only: long (100 bytes more than announced, connection kept), chunked,
close (no length, the close ends the body), 500, garbage (no status line).

Prints the port it listens on as its first line of output; ends at once when terminated.
"""

import argparse
import logging
import os
import signal
import socket
import socketserver
import struct
import sys
import time
from urllib.parse import unquote, urlsplit

SILENCE = 600  # seconds a stalled reply waits: longer than any test
TRICKLE = 300  # bytes sent one by one, so that a client that waits for ever is seen in 30 s


def read_head(stream):
    """Start line and header lines up to the blank line, as bytes; b"" at the end."""
    head = b""
    while True:
        line = stream.readline(65536)
        if not line:
            return b""
        head += line
        if line in (b"\r\n", b"\n"):
            return head


def fetch(upstream, request):
    """The upstream server's reply to one GET: its head without the blank line, and its body."""
    with socket.create_connection(("127.0.0.1", upstream)) as conn, conn.makefile("rb") as reply:
        conn.sendall(request)
        head = read_head(reply)
        lengths = [line[15:] for line in head.split(b"\r\n")
                   if line.lower().startswith(b"content-length:")]
        return head[:-2], reply.read(int(lengths[0]) if lengths else 0)


def faulty_reply(sock, head, body, fault):
    """Sends the reply with the fault; False when the connection is finished."""
    status, *headers = head.rstrip(b"\r\n").split(b"\r\n")
    kept = [h for h in headers if not h.lower().startswith((b"content-length", b"connection"))]

    def send(status_line, extra, payload):
        sock.sendall(b"\r\n".join([status_line] + kept + extra) + b"\r\n\r\n" + payload)

    length = [b"Content-Length: %d" % len(body)]
    if fault == "drop":
        sock.sendall((head + b"\r\n" + body)[:64])
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        return False
    if fault == "stall":
        time.sleep(SILENCE)
        return False
    if fault == "trickle":
        send(status, length, b"")
        for i in range(TRICKLE):
            sock.sendall(body[i:i + 1])
            time.sleep(0.1)
        sock.sendall(body[TRICKLE:])
        return True
    if fault == "short":
        send(status, length + [b"Connection: close"], body[:len(body) // 2])
        return False
    if fault == "long":
        send(status, length, body + b"x" * 100)
        return True
    if fault == "chunked":
        pieces = [b"%x\r\n%s\r\n" % (len(body[i:i + 4096]), body[i:i + 4096])
                  for i in range(0, len(body), 4096)]
        send(status, [b"Transfer-Encoding: chunked"], b"".join(pieces) + b"0\r\n\r\n")
        return True
    if fault == "close":
        send(status, [b"Connection: close"], body)
        return False
    if fault == "500":
        send(b"HTTP/1.1 500 Internal Server Error", [b"Content-Length: 7"], b"broken\n")
        return True
    if fault == "garbage":
        sock.sendall(b"HELLO THERE\r\n\r\n" + body)
        return False
    send(status, length, body)
    return True


def serve_http(upstream, fault, path):
    class Proxy(socketserver.BaseRequestHandler):
        def handle(self):
            stream = self.request.makefile("rb")
            while True:
                request = read_head(stream)
                if not request:
                    return
                head, body = fetch(upstream, request)
                target = unquote(urlsplit(request.split(b" ")[1].decode()).path)
                if not faulty_reply(self.request, head, body, fault if target == path else ""):
                    return

    class Server(socketserver.ThreadingTCPServer):
        daemon_threads = True

    return Server(("127.0.0.1", 0), Proxy)


class FaultyFile:
    """A file read the way the fault sends it."""

    def __init__(self, inner, fault):
        self._inner, self._fault, self._sent = inner, fault, 0
        self._size = os.fstat(inner.fileno()).st_size

    def read(self, size=-1):
        if self._fault == "drop" and self._sent >= 10000:
            raise OSError("connection dropped on purpose")
        if self._fault == "stall" and self._sent > 0:
            time.sleep(SILENCE)
        if self._fault == "trickle" and self._sent < TRICKLE:
            time.sleep(0.1)
            size = 1
        elif self._fault == "short":
            size = max(0, min(size, self._size // 2 - self._sent))
        elif self._fault in ("drop", "stall"):
            size = min(size, 10000)
        data = self._inner.read(size)
        self._sent += len(data)
        return data

    def __getattr__(self, name):
        return getattr(self._inner, name)


def serve_ftp(root, fault, name):
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.filesystems import AbstractedFS
    from pyftpdlib.handlers import FTPHandler
    from pyftpdlib.servers import ThreadedFTPServer

    class FaultyFS(AbstractedFS):
        def open(self, filename, mode):
            opened = super().open(filename, mode)
            if "r" in mode and os.path.basename(filename) == name:
                return FaultyFile(opened, fault)
            return opened

    class Handler(FTPHandler):
        use_sendfile = False  # every byte goes through FaultyFile.read
        abstracted_fs = FaultyFS
        proto_cmds = {k: v for k, v in FTPHandler.proto_cmds.items() if k not in ("PORT", "EPRT")}

    Handler.authorizer = DummyAuthorizer()
    Handler.authorizer.add_user("tandor", "secret", root, perm="elr")
    return ThreadedFTPServer(("127.0.0.1", 0), Handler)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--http", type=int)
    parser.add_argument("--ftp")
    parser.add_argument("--fault", default="none")
    parser.add_argument("--path", required=True)
    args = parser.parse_args()
    # A stalled reply must not keep the server from ending.
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    logging.basicConfig(level=logging.CRITICAL)
    if args.ftp:
        server = serve_ftp(args.ftp, args.fault, args.path)
        print(server.address[1], flush=True)
        sys.stdout.close()
        server.serve_forever(handle_exit=False)
    else:
        server = serve_http(args.http, args.fault, args.path)
        print(server.server_address[1], flush=True)
        sys.stdout.close()
        server.serve_forever()


if __name__ == "__main__":
    main()
