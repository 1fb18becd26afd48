"""TLS servers for the tests, with certificates of a test authority made at test time.

  tls_fixture.py certs DIR            ca.pem (the test authority) and, each as NAME.pem with
                                      NAME.key: good (127.0.0.1 and localhost), wronghost
                                      (another host), expired, stranger (signed by an authority
                                      nobody trusts)
  tls_fixture.py https DIR NAME ROOT  nginx serving ROOT over HTTPS with NAME's certificate
  tls_fixture.py http DIR - ROOT      the same nginx over plain HTTP (it honours Range)
  tls_fixture.py ftps DIR NAME ROOT   pyftpdlib with explicit TLS (AUTH TLS, protected data
                                      channel required), user "tandor", password "secret"

The servers listen on 127.0.0.1 only, print their port as the first line and serve until they
are terminated.
"""

import os
import socket
import sys
import time

from OpenSSL import crypto

from servers import listen_on_free_port


def make_key():
    key = crypto.PKey()
    key.generate_key(crypto.TYPE_RSA, 2048)
    return key


def make_cert(key, subject, issuer_cert, issuer_key, serial, not_before, not_after,
              names=None, ca=False):
    cert = crypto.X509()
    cert.set_version(2)
    cert.set_serial_number(serial)
    cert.get_subject().CN = subject
    cert.gmtime_adj_notBefore(not_before)
    cert.gmtime_adj_notAfter(not_after)
    cert.set_issuer((issuer_cert or cert).get_subject())
    cert.set_pubkey(key)
    extensions = [crypto.X509Extension(b"basicConstraints", True,
                                       b"CA:TRUE" if ca else b"CA:FALSE")]
    if ca:
        extensions.append(crypto.X509Extension(b"keyUsage", True, b"keyCertSign, cRLSign"))
    if names:
        extensions.append(crypto.X509Extension(b"subjectAltName", False, names.encode()))
    cert.add_extensions(extensions)
    cert.sign(issuer_key or key, "sha256")
    return cert


def write(path, data):
    with open(path, "wb") as out:
        out.write(data)


def certs(folder):
    day = 86400
    ca_key, stranger_key = make_key(), make_key()
    ca = make_cert(ca_key, "Tandor Test CA", None, None, 1, -day, 30 * day, ca=True)
    stranger = make_cert(stranger_key, "Stranger CA", None, None, 2, -day, 30 * day, ca=True)
    write(os.path.join(folder, "ca.pem"), crypto.dump_certificate(crypto.FILETYPE_PEM, ca))
    local = "IP:127.0.0.1, DNS:localhost"
    leaves = {
        "good": (ca, ca_key, -day, 30 * day, local),
        "wronghost": (ca, ca_key, -day, 30 * day, "DNS:updates.example.invalid"),
        "expired": (ca, ca_key, -30 * day, -day, local),
        "stranger": (stranger, stranger_key, -day, 30 * day, local),
    }
    for serial, (name, (issuer, issuer_key, start, end, names)) in enumerate(leaves.items(), 10):
        key = make_key()
        cert = make_cert(key, name, issuer, issuer_key, serial, start, end, names)
        write(os.path.join(folder, name + ".key"),
              crypto.dump_privatekey(crypto.FILETYPE_PEM, key))
        write(os.path.join(folder, name + ".pem"),
              crypto.dump_certificate(crypto.FILETYPE_PEM, cert))


def free_port():
    def probe(port):
        with socket.socket() as s:
            s.bind(("127.0.0.1", port))
        return port
    return listen_on_free_port(probe)


def https(folder, name, root, tls=True):
    port = free_port()
    work = os.path.join(folder, "nginx-" + name)
    os.makedirs(work, exist_ok=True)
    conf = os.path.join(work, "nginx.conf")
    tls_lines = (f"    listen 127.0.0.1:{port} ssl;\n"
                 f"    ssl_certificate {folder}/{name}.pem;\n"
                 f"    ssl_certificate_key {folder}/{name}.key;\n"
                 if tls else f"    listen 127.0.0.1:{port};\n")
    with open(conf, "w") as out:
        out.write(f"""daemon off;
master_process off;
pid {work}/nginx.pid;
error_log {work}/error.log;
events {{ worker_connections 64; }}
http {{
  access_log off;
  client_body_temp_path {work}/body;
  proxy_temp_path {work}/proxy;
  fastcgi_temp_path {work}/fastcgi;
  uwsgi_temp_path {work}/uwsgi;
  scgi_temp_path {work}/scgi;
  default_type application/octet-stream;
  server {{
{tls_lines}    root {root};
  }}
}}
""")
    print(port, flush=True)
    os.execv("/usr/sbin/nginx", ["nginx", "-e", work + "/error.log", "-p", work + "/",
                                 "-c", conf])


def ftps(folder, name, root):
    import logging
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler
    from pyftpdlib.servers import FTPServer

    authorizer = DummyAuthorizer()
    authorizer.add_user("tandor", "secret", root, perm="elr")

    class DataHandler(TLS_DTPHandler):
        # libcurl begins the data connection's handshake before it sends the transfer command;
        # pyftpdlib would take that early ClientHello for a closed connection.
        def readable(self):
            if self._ssl_requested and not self._ssl_established:
                return True
            return super().readable()

    class Handler(TLS_FTPHandler):
        dtp_handler = DataHandler

    Handler.authorizer = authorizer
    from OpenSSL import SSL
    context = SSL.Context(SSL.TLS_METHOD)
    context.use_certificate_chain_file(os.path.join(folder, name + ".pem"))
    context.use_privatekey_file(os.path.join(folder, name + ".key"))
    # libcurl's data connections resume the control connection's TLS session; without a
    # session id context the server would refuse the resumption and drop them.
    context.set_session_id(b"tandor-tests")
    Handler.ssl_context = context
    Handler.tls_control_required = True
    Handler.tls_data_required = True
    Handler.auth_failed_timeout = 0
    logging.basicConfig(level=logging.ERROR)
    server = listen_on_free_port(lambda port: FTPServer(("127.0.0.1", port), Handler))
    print(server.address[1], flush=True)
    sys.stdout.close()
    server.serve_forever(handle_exit=True)


def main():
    command, folder = sys.argv[1], os.path.abspath(sys.argv[2])
    if command == "certs":
        certs(folder)
    elif command == "https":
        https(folder, sys.argv[3], os.path.abspath(sys.argv[4]))
    elif command == "http":
        https(folder, "plain", os.path.abspath(sys.argv[4]), tls=False)
    elif command == "ftps":
        ftps(folder, sys.argv[3], os.path.abspath(sys.argv[4]))
    else:
        raise SystemExit("unknown command " + command)


if __name__ == "__main__":
    main()
