"""Servers on 127.0.0.1 for the tests and benchmarks; each serves --root, prints its port (above
32767) and runs until terminated. ftp: user tandor, password secret (--no-mlsd, --no-active,
--max-per-ip N: 421 to a client's connections beyond N, --cert DIR/NAME: TLS required; an upload to cutoff* breaks off after 16 KiB; each download of a --path file logged to ROOT.log). http: requests
logged to ROOT.log (--redirect PATH=URL: 302). nginx: HTTPS with --cert, or HTTP with Range
(--max-per-ip N: limit_conn N, 503 beyond it, each connection at 16 KiB/s).
vsftpd (as root): anonymous, read-only; --no-active, --no-passive, --max-per-ip N.
certs: ca.pem, and NAME.pem, NAME.key for good, wronghost, expired and stranger (unknown CA).
ftp and http send the files at --path with --fault: drop (HTTP: 64 bytes, then a reset; FTP: 426
after 10000 bytes), stall, trickle (a byte every 100 ms), short (half the file, ended as if
complete), huge (HTTP: 100 GiB announced, then ENDLESS bytes; FTP: SIZE says 100 GiB), and for
HTTP: long (100 bytes too many), chunked, close (no length), 500, garbage, endless (chunked, ENDLESS
bytes, then closed); for FTP: undersize (SIZE says a quarter of the file, which is sent whole),
oops (every file: EPSV refused with vsftpd's "500 OOPS", PASV answered with a reset), noquit
(QUIT never answered, the connection kept open). The FTP log has "sent NAME" once the first
bytes of a download of NAME went out.
proxy: a forward proxy to 127.0.0.1 only (absolute-URI GET, CONNECT tunnels), each request it
forwarded logged to ROOT.log; --user USER:PASSWORD: Basic credentials required (407 without them),
--refuse: 403 to everything."""

import argparse, base64, errno, http.client, logging, os, random, select, signal, socket, struct, sys, threading, time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import unquote, urlsplit

SILENCE, TRICKLE = 600, 300  # seconds a stall lasts (longer than any test); bytes trickled
ENDLESS = 40 << 20  # what an endless reply sends before it gives up: more than any client keeps
HUGE = 100 << 30


def on_free_port(create):
    for _ in range(500):
        try:
            return create(random.randint(32768, 65535))
        except OSError:
            continue
    raise SystemExit("no free port above 32767")


def announce(port):
    print(port, flush=True)
    sys.stdout.close()


LOG_LOCK = threading.Lock()


def note(args, text):
    """Adds `text` to ROOT.log, where the tests read what a server saw."""
    with LOG_LOCK, open(args.root + ".log", "a", encoding="utf-8") as log:
        log.write(text)


class QuietHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *_):
        pass


def serve_threads(server):
    """Serves on daemon threads until terminated; a client that gives up midway is no error."""
    server.daemon_threads = True
    server.handle_error = lambda *_: None
    announce(server.server_address[1])
    server.serve_forever()


class FaultyFile:
    """A file the FTP server sends the way the fault says, or takes until the disk is full."""

    def __init__(self, inner, fault, note=None):
        self._inner, self._fault, self._done, self._note = inner, fault, 0, note
        self._half = os.fstat(inner.fileno()).st_size // 2

    def write(self, data):
        room, self._done = max(0, 16384 - self._done), self._done + len(data)
        if self._done > 16384 and self._fault == "cutoff":
            raise OSError(errno.ENOSPC, os.strerror(errno.ENOSPC))
        # "keepless": keeps the first 16 KiB and reports the upload complete all the same
        self._inner.write(data[:room])
        return len(data)

    def read(self, size=-1):
        if self._fault == "drop" and self._done >= 10000:
            raise OSError("connection dropped on purpose")
        if self._fault == "stall" and self._done > 0:
            time.sleep(SILENCE)
        if self._fault == "trickle" and self._done < TRICKLE:
            time.sleep(0.1)
            size = 1
        elif self._fault in ("drop", "stall", "short"):
            size = max(0, min(size, self._half - self._done if self._fault == "short" else 10000))
        data = self._inner.read(size)
        if data and not self._done and self._note:
            self._note("sent " + os.path.basename(self._inner.name) + "\n")
        self._done += len(data)
        return data

    def __getattr__(self, name):
        return getattr(self._inner, name)


def serve_ftp(args):
    from pyftpdlib import authorizers, filesystems, handlers, servers

    class FS(filesystems.AbstractedFS):
        def open(self, filename, mode):
            opened, name = super().open(filename, mode), os.path.basename(filename)
            if "w" in mode and name.startswith(("cutoff", "keepless")):
                return FaultyFile(opened, name[:6] if name.startswith("cutoff") else "keepless")
            if "r" not in mode or name not in args.path:
                return opened
            note(args, "RETR " + name + "\n")
            return FaultyFile(opened, args.fault, lambda text: note(args, text))

    class Handler(handlers.TLS_FTPHandler if args.cert else handlers.FTPHandler):
        abstracted_fs, authorizer = FS, authorizers.DummyAuthorizer()
        use_sendfile = args.fault == "none"  # a faulty file's bytes go through its read()
        auth_failed_timeout, timeout = 0, 120  # a wrong password is answered at once

        def handle_max_cons_per_ip(self):
            # The threaded server runs no loop for a connection it turns away: the refusal is
            # sent and the connection closed at once, which also takes it off the server's count.
            try:
                self.socket.sendall(b"421 Too many connections from the same IP address.\r\n")
            except OSError:
                pass
            self.close()

        def ftp_QUIT(self, line):
            if args.fault != "noquit":
                return super().ftp_QUIT(line)
            # as a server whose loop lost the session: the client waits for an answer in vain

        def ftp_EPSV(self, line):
            if args.fault != "oops":
                return super().ftp_EPSV(line)
            self.respond("500 OOPS: priv_sock_get_int")

        def ftp_PASV(self, line):
            if args.fault != "oops":
                return super().ftp_PASV(line)
            self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.close()

        def ftp_SIZE(self, path):
            if args.fault not in ("undersize", "huge") or os.path.basename(path) not in args.path:
                return super().ftp_SIZE(path)
            told = os.path.getsize(path) // 4 if args.fault == "undersize" else HUGE
            self.respond("213 %d" % told)

    Handler.authorizer.add_user("tandor", "secret", args.root, perm="elradfmwMT")
    refused = ["MLSD", "MLST"] * args.no_mlsd + ["PORT", "EPRT"] * args.no_active
    Handler.proto_cmds = {k: v for k, v in Handler.proto_cmds.items() if k not in refused}
    if args.cert:
        from OpenSSL import SSL

        class Data(handlers.TLS_DTPHandler):
            # libcurl begins the data connection's handshake before it sends the transfer
            # command; pyftpdlib would take that early ClientHello for a closed connection.
            def readable(self):
                return (self._ssl_requested and not self._ssl_established) or super().readable()

        Handler.dtp_handler, Handler.ssl_context = Data, SSL.Context(SSL.TLS_METHOD)
        Handler.ssl_context.use_certificate_chain_file(args.cert + ".pem")
        Handler.ssl_context.use_privatekey_file(args.cert + ".key")
        # libcurl's data connections resume the control connection's TLS session.
        Handler.ssl_context.set_session_id(b"tandor-tests")
        # Over TLS 1.3 pyftpdlib now and then closes an upload's data connection on the client's
        # close_notify with records still unread, and keeps a file cut short (its issue 602).
        Handler.ssl_context.set_max_proto_version(SSL.TLS1_2_VERSION)
        Handler.tls_control_required = Handler.tls_data_required = True
    # A session of its own for every connection: pyftpdlib's shared loop, closing the active data
    # connection of a client that went away, can take the fd of the next client's session out of
    # its poll set, and that client's commands then go unanswered.
    kind = servers.ThreadedFTPServer
    server = on_free_port(lambda port: kind(("127.0.0.1", port), Handler))
    server.max_cons_per_ip = args.max_per_ip
    announce(server.address[1])
    server.serve_forever(handle_exit=False)


def endless_reply(handler, head, chunked):
    """Sends ENDLESS bytes after `head` (chunked, or as the start of a HUGE body), then closes
    the connection as if it had broken: no client should have read that far."""
    block = bytes(range(256)) * 256
    handler.wfile.write(head + (b"Transfer-Encoding: chunked\r\n\r\n" if chunked else
                                b"Content-Length: %d\r\n\r\n" % HUGE))
    try:
        for _ in range(ENDLESS // len(block)):
            handler.wfile.write(b"%x\r\n%s\r\n" % (len(block), block) if chunked else block)
    except OSError:
        pass  # the client stopped reading
    handler.close_connection = True


def faulty_reply(handler, body, fault):
    head = b"HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
    if fault in ("endless", "huge"):
        return endless_reply(handler, head, fault == "endless")
    whole = head + b"Content-Length: %d\r\n\r\n" % len(body)
    chunks = b"".join(b"%x\r\n%s\r\n" % (len(body[i:i + 4096]), body[i:i + 4096])
                      for i in range(0, len(body), 4096))
    handler.wfile.write({
        "none": whole + body, "drop": (whole + body)[:64], "stall": b"", "trickle": whole,
        "short": whole + body[:len(body) // 2], "long": whole + body + b"x" * 100,
        "chunked": head + b"Transfer-Encoding: chunked\r\n\r\n" + chunks + b"0\r\n\r\n",
        "close": head + b"Connection: close\r\n\r\n" + body,
        "500": b"HTTP/1.1 500 Internal Server Error\r\nContent-Length: 7\r\n\r\nbroken\n",
        "garbage": b"HELLO THERE\r\n\r\n" + body}[fault])
    handler.close_connection = fault in ("drop", "stall", "short", "close", "garbage")
    if fault == "drop":
        handler.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    elif fault == "stall":
        time.sleep(SILENCE)
    elif fault == "short":
        handler.connection.shutdown(socket.SHUT_RDWR)
    elif fault == "trickle":
        for i in range(TRICKLE):
            handler.wfile.write(body[i:i + 1])
            time.sleep(0.1)
        handler.wfile.write(body[TRICKLE:])


def serve_http(args):
    redirects = dict(rule.partition("=")[::2] for rule in args.redirect)
    root, lock = os.path.realpath(args.root), threading.Lock()

    class Handler(QuietHandler):
        def do_GET(self):
            note(args, self.requestline + "\n" + str(self.headers) + "\n")
            path = unquote(urlsplit(self.path).path)
            file = os.path.realpath(os.path.join(root, path.lstrip("/")))
            if path in redirects:
                self.send_response(302)
                self.send_header("Location", redirects[path])
            elif not file.startswith(root) or not os.path.isfile(file):
                self.send_response(404)
            else:
                with open(file, "rb") as source:
                    if path in args.path:
                        return faulty_reply(self, source.read(), args.fault)
                    # Exactly the announced bytes: a test may rewrite the file once it has them.
                    size = os.fstat(source.fileno()).st_size
                    self.send_response(200)
                    self.send_header("Content-Length", str(size))
                    self.end_headers()
                    return self.connection.sendfile(source, 0, size)
            self.send_header("Content-Length", "0")
            self.end_headers()

    class Server(ThreadingHTTPServer):
        serving = 0

        def process_request_thread(self, request, client_address):
            with lock:
                held = 0 < args.max_per_ip <= Server.serving
                Server.serving += not held
            if not held:
                try:
                    return super().process_request_thread(request, client_address)
                finally:
                    with lock:
                        Server.serving -= 1
            note(args, "held\n")  # over the limit: accepted, never answered, as some filters do
            try:
                while request.recv(65536):
                    pass
            except OSError:
                pass
            self.shutdown_request(request)

    serve_threads(on_free_port(lambda port: Server(("127.0.0.1", port), Handler)))


def serve_proxy(args):
    expected = "Basic " + base64.b64encode(args.user.encode()).decode() if args.user else None

    class Handler(QuietHandler):
        def refuse(self, status, reason, extra=()):
            body = b"<html><body>%d %s</body></html>\n" % (status, reason.encode())
            self.send_response(status, reason)
            for name, value in extra:
                self.send_header(name, value)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def admitted(self):
            """Whether the request may pass; answers it when not."""
            if args.refuse:
                self.refuse(403, "Forbidden")
            elif expected and self.headers.get("Proxy-Authorization") != expected:
                self.refuse(407, "Proxy Authentication Required",
                            [("Proxy-Authenticate", 'Basic realm="tandor"')])
            else:
                return True
            return False

        def do_GET(self):
            if not self.admitted():
                return
            target = urlsplit(self.path)
            if target.scheme != "http" or target.hostname != "127.0.0.1":
                return self.refuse(502, "Bad Gateway")
            note(args, self.requestline + "\n")
            upstream = http.client.HTTPConnection("127.0.0.1", target.port or 80, timeout=60)
            headers = {name: value for name, value in self.headers.items()
                       if not name.lower().startswith("proxy-") and name.lower() != "connection"}
            upstream.request("GET", target.path + ("?" + target.query if target.query else ""),
                             headers=headers)
            reply = upstream.getresponse()
            body = reply.read()
            self.send_response(reply.status, reply.reason)
            for name, value in reply.getheaders():
                if name.lower() not in ("connection", "transfer-encoding", "content-length"):
                    self.send_header(name, value)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            upstream.close()

        def do_CONNECT(self):
            if not self.admitted():
                return
            host, _, port = self.path.rpartition(":")
            if host != "127.0.0.1":
                return self.refuse(502, "Bad Gateway")
            try:
                upstream = socket.create_connection((host, int(port)), timeout=60)
            except OSError:
                return self.refuse(502, "Bad Gateway")
            note(args, self.requestline + "\n")
            self.send_response(200, "Connection established")
            self.end_headers()
            self.close_connection = True
            ends = [self.connection, upstream]
            try:
                while True:
                    ready, _, _ = select.select(ends, [], [], 600)
                    if not ready:
                        break
                    for end in ready:
                        data = end.recv(65536)
                        if not data:
                            return
                        (upstream if end is self.connection else self.connection).sendall(data)
            except OSError:
                pass
            finally:
                upstream.close()

    serve_threads(on_free_port(lambda port: ThreadingHTTPServer(("127.0.0.1", port), Handler)))


def serve_nginx(args):
    port = on_free_port(lambda port: socket.create_server(("127.0.0.1", port)).close() or port)
    work = f"{args.root}.nginx-{port}"
    os.makedirs(work, exist_ok=True)
    tls = f" ssl; ssl_certificate {args.cert}.pem; ssl_certificate_key {args.cert}.key" * bool(
        args.cert)
    # --max-per-ip N: 503 to a client's requests beyond N at once, each sent at 16 KiB/s so
    # that a client's connections overlap
    limits = f"limit_conn per_ip {args.max_per_ip}; limit_rate 16k;" * bool(args.max_per_ip)
    temps = "".join(f"{kind}_temp_path {work}/{kind}; "
                    for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
    with open(work + "/nginx.conf", "w") as out:
        out.write(f"daemon off; master_process off; pid {work}/nginx.pid; events {{}}\n"
                  f"http {{ access_log off; {temps}default_type application/octet-stream;\n"
                  f"limit_conn_zone $binary_remote_addr zone=per_ip:1m;\n"
                  f"server {{ listen 127.0.0.1:{port}{tls}; root {args.root}; {limits} }} }}\n")
    announce(port)
    os.execv("/usr/sbin/nginx", ["nginx", "-e", work + "/error.log", "-p", work + "/",
                                 "-c", work + "/nginx.conf"])


def serve_vsftpd(args):
    """vsftpd's own refusals: PORT and EPRT with --no-active, PASV and EPSV with --no-passive,
    421 to a client's connections beyond --max-per-ip."""
    port = on_free_port(lambda port: socket.create_server(("127.0.0.1", port)).close() or port)
    work = f"{args.root}.vsftpd-{port}"
    os.makedirs(work + "/empty", exist_ok=True)
    os.chmod(args.root, 0o755)  # anonymous users may read the root, and never write it
    # vsftpd 3.0.3's sandbox ends every session on Debian 12 (README, "Serving updates").
    settings = {"listen": "YES", "listen_address": "127.0.0.1", "listen_port": port,
                "background": "NO", "anonymous_enable": "YES", "no_anon_password": "YES",
                "local_enable": "NO", "write_enable": "NO", "anon_root": args.root,
                "secure_chroot_dir": work + "/empty", "seccomp_sandbox": "NO",
                "xferlog_enable": "YES", "log_ftp_protocol": "YES",
                "vsftpd_log_file": work + "/vsftpd.log", "max_per_ip": args.max_per_ip,
                "port_enable": "NO" if args.no_active else "YES",
                "pasv_enable": "NO" if args.no_passive else "YES"}
    with open(work + "/vsftpd.conf", "w") as out:
        out.writelines(f"{key}={value}\n" for key, value in settings.items())
    announce(port)
    os.execv("/usr/sbin/vsftpd", ["vsftpd", work + "/vsftpd.conf"])


def make_certs(args):
    from OpenSSL import crypto

    def make(name, issuer, start, end, names=None):
        key, cert, extension = crypto.PKey(), crypto.X509(), crypto.X509Extension
        key.generate_key(crypto.TYPE_RSA, 2048)
        cert.set_version(2)
        cert.set_serial_number(random.getrandbits(64))
        cert.get_subject().CN = name
        cert.gmtime_adj_notBefore(start * 86400)
        cert.gmtime_adj_notAfter(end * 86400)
        issuer_cert, issuer_key = issuer or (cert, key)
        cert.set_issuer(issuer_cert.get_subject())
        cert.set_pubkey(key)
        cert.add_extensions([extension(b"subjectAltName", False, names)] if names else [
            extension(b"basicConstraints", True, b"CA:TRUE")])
        cert.sign(issuer_key, "sha256")
        with open(f"{args.root}/{name}.pem", "wb") as pem, open(f"{args.root}/{name}.key", "wb") as k:
            pem.write(crypto.dump_certificate(crypto.FILETYPE_PEM, cert))
            k.write(crypto.dump_privatekey(crypto.FILETYPE_PEM, key))
        return cert, key

    ca, local = make("ca", None, -1, 30), b"IP:127.0.0.1, DNS:localhost"
    make("good", ca, -1, 30, local)
    make("wronghost", ca, -1, 30, b"DNS:updates.example.invalid")
    make("expired", ca, -30, -1, local)
    make("stranger", make("stranger-ca", None, -1, 30), -1, 30, local)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("kind", choices=["ftp", "http", "nginx", "vsftpd", "certs", "proxy"])
    parser.add_argument("--root", required=True, type=os.path.abspath)
    parser.add_argument("--cert")
    parser.add_argument("--fault", default="none")
    parser.add_argument("--user")
    parser.add_argument("--max-per-ip", type=int, default=0)  # 0: any number of connections
    for flag in ("--no-mlsd", "--no-active", "--no-passive", "--refuse"):
        parser.add_argument(flag, action="store_true")
    for flag in ("--redirect", "--path"):
        parser.add_argument(flag, action="append", default=[])
    args = parser.parse_args()
    os.makedirs(args.root, exist_ok=True)
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))  # a stalled reply must not hold it
    logging.basicConfig(level=logging.CRITICAL)
    {"ftp": serve_ftp, "http": serve_http, "nginx": serve_nginx, "vsftpd": serve_vsftpd,
     "certs": make_certs, "proxy": serve_proxy}[args.kind](args)


if __name__ == "__main__":
    main()
