"""FTP server for the tests: pyftpdlib on 127.0.0.1, one user with full rights on a folder.

Listens on a free port above 32767.

Prints the port it listens on as its first line of output, then serves until it is terminated.
An upload to a file whose name starts with "cutoff" is broken off by the server after 16 KiB,
as a server whose disk fills up would do. With --no-active the server refuses PORT and EPRT,
as servers behind a firewall or NAT do, so that only passive mode works.
"""

import argparse
import errno
import logging
import os
import sys

from fixture_ports import listen_on_free_port
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

CUTOFF_PREFIX = "cutoff"
CUTOFF_BYTES = 16384


class CutOffFile:
    def __init__(self, inner):
        self._inner = inner
        self._written = 0

    def write(self, data):
        self._written += len(data)
        if self._written > CUTOFF_BYTES:
            raise OSError(errno.ENOSPC, os.strerror(errno.ENOSPC))
        return self._inner.write(data)

    def __getattr__(self, name):
        return getattr(self._inner, name)


class FixtureFS(AbstractedFS):
    def open(self, filename, mode):
        opened = super().open(filename, mode)
        if "w" in mode and os.path.basename(filename).startswith(CUTOFF_PREFIX):
            return CutOffFile(opened)
        return opened


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--no-mlsd", action="store_true",
                        help="offer only LIST, as older servers do")
    parser.add_argument("--no-active", action="store_true",
                        help="refuse PORT and EPRT: passive mode only")
    args = parser.parse_args()

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")

    class Handler(FTPHandler):
        pass

    Handler.authorizer = authorizer
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


if __name__ == "__main__":
    main()
