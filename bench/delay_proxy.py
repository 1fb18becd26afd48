#!/usr/bin/env python3
"""A TCP proxy on 127.0.0.1 that puts a network link between a client and a server: every byte
reaches the other side --delay-ms later in each direction (so --delay-ms 10 is a round trip of
20 ms), and, unless --rate-mbit is 0, no faster than the link's bandwidth in each direction.

  delay_proxy.py --target HOST:PORT [--delay-ms 10] [--rate-mbit 100] [--ftp] [--port N]
                 [--no-handshake]

It prints the port it listens on when it is ready (any free port unless --port says one) and
exits on SIGTERM or SIGINT. It listens on 127.0.0.1 only and forwards to loopback targets only.

Latency, not a queue: data that arrives at t goes on at t + delay, in order, and later data is
never held up by more than that. Each direction of a connection keeps a queue of (due time,
bytes). The bandwidth is one link shared by every connection of a direction, as a client's line
is: a chunk leaves once the chunks before it on that link have left, and arrives a delay later.

A new connection pays the TCP handshake it would pay across the link: the client's first bytes
count as sent one round trip after it connected, and the server sees the connection one and a
half round trips after it (when the handshake's last packet would reach it). --no-handshake
leaves that out.

--ftp treats the target as an FTP server's control port: each "227 Entering Passive Mode" and
"229 Entering Extended Passive Mode" reply is rewritten to a fresh listener of this proxy that
forwards, with the same delay, to the data port the server named (on the target's host: a
server's own idea of its address is not needed on a loopback bench). Active mode (PORT, EPRT)
is not proxied: the server would connect to the client directly, past the link.
"""

import argparse
import asyncio
import collections
import ipaddress
import re
import selectors
import signal
import socket
import sys

# The loop waits in select(), whose timeout is in microseconds (epoll's is in whole milliseconds,
# rounded up, which would add up to a millisecond to every delay); it still wakes about a tenth
# of a millisecond late, so it aims that much early. select() takes descriptors below 1024:
# some 500 connections at once, far more than a benchmark opens.
EARLY = 0.0001
BASE_QUEUE = 4 << 20  # bytes a direction holds beyond one delay's worth before it stops reading
EOF, CLOSE = "eof", "close"
UNUSED_LISTENER = 300  # seconds a passive-mode listener waits for its data connection


class Wire:
    """One direction of the link: its bandwidth, shared by every connection that crosses it."""

    def __init__(self, rate):
        self.rate = rate  # bytes per second, 0 for no limit
        self.free_at = 0.0

    def depart(self, ready, size):
        """The time the last of `size` bytes, ready at `ready`, has left."""
        if not self.rate:
            return ready
        self.free_at = max(ready, self.free_at) + size / self.rate
        return self.free_at


class Link:
    """One direction of one connection: what the source sent, each piece on its due time."""

    def __init__(self, loop, wire, delay, not_before):
        self.loop, self.wire, self.delay, self.not_before = loop, wire, delay, not_before
        self.queue = collections.deque()  # (due, bytes | EOF | CLOSE)
        self.queued = 0
        self.limit = BASE_QUEUE + int(wire.rate * delay)
        self.src = self.dst = None  # Side objects; dst is None until the server side connects
        self.timer = None
        self.ended = False  # an EOF or CLOSE was queued: nothing more comes
        self.finished = False  # ... and delivered
        self.dst_paused = self.src_paused = False

    def push(self, item):
        if self.ended:
            return
        now = self.loop.time()
        ready = max(now, self.not_before)
        size = len(item) if isinstance(item, bytes) else 0
        self.queue.append((self.wire.depart(ready, size) + self.delay, item))
        self.queued += size
        self.ended = not isinstance(item, bytes)
        self.update_reading()
        self.schedule()

    def attach(self, dst):
        self.dst = dst
        self.schedule()

    def schedule(self):
        if self.timer or not self.queue or self.dst is None:
            return
        due = self.queue[0][0] - EARLY
        if due <= self.loop.time():
            self.flush()
        else:
            self.timer = self.loop.call_at(due, self.flush)

    def flush(self):
        self.timer = None
        horizon = self.loop.time() + EARLY
        chunks = []
        while self.queue and self.queue[0][0] <= horizon:
            item = self.queue.popleft()[1]
            if isinstance(item, bytes):
                chunks.append(item)
                self.queued -= len(item)
                continue
            self.write(chunks)
            self.finish(item)
            return
        self.write(chunks)
        self.update_reading()
        self.schedule()

    def write(self, chunks):
        transport = self.dst.transport
        if chunks and transport and not transport.is_closing():
            transport.write(b"".join(chunks))

    def finish(self, item):
        self.finished = True
        self.queue.clear()
        transport = self.dst.transport
        if transport is None:
            return
        if item == EOF and transport.can_write_eof() and not transport.is_closing():
            try:
                transport.write_eof()
            except OSError:
                transport.close()
        else:
            transport.close()
        self.dst.pair.check_done()

    def update_reading(self):
        """Stops reading the source while too much waits here or the destination is full."""
        pause = self.queued > self.limit or self.dst_paused
        if pause == self.src_paused or self.src is None:
            return
        self.src_paused = pause
        transport = self.src.transport
        if transport is None or transport.is_closing():
            return
        if pause:
            transport.pause_reading()
        else:
            transport.resume_reading()

    def cancel(self):
        if self.timer:
            self.timer.cancel()
            self.timer = None


class Side(asyncio.Protocol):
    """One end of a proxied connection: what it receives goes out on `out`, `into` writes to it."""

    def __init__(self, pair, out, into, rewrite=None):
        self.pair, self.out, self.into, self.rewrite = pair, out, into, rewrite
        self.transport = None
        out.src = self

    def connection_made(self, transport):
        self.transport = transport
        self.pair.proxy.transports.add(transport)

    def data_received(self, data):
        if self.rewrite:
            data = self.rewrite(data)
        if data:
            self.out.push(data)

    def eof_received(self):
        if self.rewrite:
            rest = self.rewrite.rest()
            if rest:
                self.out.push(rest)
        self.out.push(EOF)
        return True  # half-closed: the other direction goes on

    def connection_lost(self, exc):
        self.pair.proxy.transports.discard(self.transport)
        self.out.push(CLOSE)
        self.pair.check_done()

    def pause_writing(self):
        self.into.dst_paused = True
        self.into.update_reading()

    def resume_writing(self):
        self.into.dst_paused = False
        self.into.update_reading()


class Pair:
    """A client's connection to the proxy and the proxy's connection to the server."""

    def __init__(self, proxy, target, ftp):
        self.proxy, self.target = proxy, target
        loop, delay = proxy.loop, proxy.delay
        now = loop.time()
        shake = proxy.handshake
        self.up = Link(loop, proxy.upstream, delay, now + 2 * delay if shake else 0.0)
        self.down = Link(loop, proxy.downstream, delay, 0.0)
        self.client = Side(self, self.up, self.down)
        self.server = Side(self, self.down, self.up, PassiveReplies(proxy, target[0]) if ftp else None)
        self.connecting = loop.call_at(now + 3 * delay if shake else now, self.connect)

    def connect(self):
        self.connecting = None
        self.proxy.loop.create_task(self.open())

    async def open(self):
        try:
            await self.proxy.loop.create_connection(lambda: self.server, *self.target)
        except OSError as error:
            print(f"delay_proxy: {self.target[0]}:{self.target[1]}: {error}", file=sys.stderr)
            if self.client.transport:
                self.client.transport.abort()
            return
        self.down.attach(self.client)
        self.up.attach(self.server)

    def check_done(self):
        if not (self.up.finished and self.down.finished):
            return
        for side in (self.client, self.server):
            if side.transport and not side.transport.is_closing():
                side.transport.close()
        self.up.cancel()
        self.down.cancel()


class PassiveReplies:
    """Rewrites the server's passive-mode replies to listeners of this proxy, line by line."""

    PASV = re.compile(rb"^227 ([^\r\n]*?)\(?\d+,\d+,\d+,\d+,(\d+),(\d+)\)?", re.M)
    EPSV = re.compile(rb"^229 ([^\r\n]*?)\(\|\|\|(\d+)\|\)", re.M)

    def __init__(self, proxy, host):
        self.proxy, self.host = proxy, host
        self.tail = b""

    def __call__(self, data):
        data = self.tail + data
        cut = data.rfind(b"\n") + 1
        if cut == 0 and len(data) < 4096:  # a reply line comes whole; wait for its end
            self.tail = data
            return b""
        if cut == 0:
            cut = len(data)
        self.tail = data[cut:]
        lines = self.PASV.sub(self.passive, data[:cut])
        return self.EPSV.sub(self.extended, lines)

    def rest(self):
        rest, self.tail = self.tail, b""
        return rest

    def passive(self, match):
        port = self.proxy.listen_once((self.host, int(match[2]) * 256 + int(match[3])))
        return b"227 %s(127,0,0,1,%d,%d)" % (match[1], port >> 8, port & 255)

    def extended(self, match):
        port = self.proxy.listen_once((self.host, int(match[2])))
        return b"229 %s(|||%d|)" % (match[1], port)


class Proxy:
    def __init__(self, loop, args):
        self.loop = loop
        self.delay = args.delay_ms / 1000
        self.handshake = not args.no_handshake
        rate = args.rate_mbit * 1e6 / 8
        self.upstream, self.downstream = Wire(rate), Wire(rate)
        self.servers, self.transports, self.listeners = set(), set(), set()

    async def listen(self, target, ftp, port):
        server = await self.loop.create_server(lambda: Pair(self, target, ftp).client,
                                               "127.0.0.1", port, backlog=256)
        self.servers.add(server)
        return server.sockets[0].getsockname()[1]

    def listen_once(self, target):
        """A listener for one data connection to `target`; its port, bound before this returns."""
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        sock.bind(("127.0.0.1", 0))
        sock.listen(8)
        sock.setblocking(False)
        port = sock.getsockname()[1]
        task = self.loop.create_task(self.serve_once(sock, target))
        self.listeners.add(task)
        task.add_done_callback(self.listeners.discard)
        return port

    async def serve_once(self, sock, target):
        try:
            connection, _ = await asyncio.wait_for(self.loop.sock_accept(sock), UNUSED_LISTENER)
        except (asyncio.TimeoutError, OSError):
            return
        finally:
            sock.close()
        await self.loop.connect_accepted_socket(lambda: Pair(self, target, False).client,
                                                connection)

    def stop(self):
        for server in self.servers:
            server.close()
        for task in list(self.listeners):
            task.cancel()
        for transport in list(self.transports):
            transport.abort()


def loopback_target(text):
    host, _, port = text.rpartition(":")
    address = socket.gethostbyname(host or "127.0.0.1")
    if not ipaddress.ip_address(address).is_loopback:
        raise argparse.ArgumentTypeError(f"{text}: only loopback targets")
    return address, int(port)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--target", required=True, type=loopback_target, help="HOST:PORT")
    parser.add_argument("--delay-ms", type=float, default=10.0, help="one way (default 10)")
    parser.add_argument("--rate-mbit", type=float, default=100.0,
                        help="bandwidth of each direction, 0 for none (default 100)")
    parser.add_argument("--port", type=int, default=0, help="port to listen on (default: any)")
    parser.add_argument("--ftp", action="store_true", help="rewrite passive-mode replies")
    parser.add_argument("--no-handshake", action="store_true",
                        help="new connections cost no round trip")
    args = parser.parse_args()

    loop = asyncio.SelectorEventLoop(selectors.SelectSelector())
    proxy = Proxy(loop, args)
    stopped = loop.create_future()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, lambda: stopped.done() or stopped.set_result(None))
    port = loop.run_until_complete(proxy.listen(args.target, args.ftp, args.port))
    print(port, flush=True)
    loop.run_until_complete(stopped)
    proxy.stop()
    loop.run_until_complete(asyncio.sleep(0))
    loop.close()


if __name__ == "__main__":
    main()
