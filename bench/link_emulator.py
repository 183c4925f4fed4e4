#!/usr/bin/env python3
"""A link emulator for the benchmarks: a TCP proxy on loopback that delays every byte by a
one-way delay in each direction and caps the downstream (server to client) rate, as a real
link of that round trip and bandwidth would. The kernel's network emulation is not available
on the machines the benchmarks run on, so the link is modelled here.

The downstream direction is one link shared by all connections: each block is put on the wire
when the wire is free (its serialisation takes size / rate), then arrives after the delay.
Upstream is delayed only. At most --buffer bytes wait per direction and connection; beyond
that the proxy stops reading, so TCP's own flow control holds the sender back as a full link
would.

Usage: link_emulator.py --target HOST:PORT [--listen PORT] [--delay-ms 15]
       [--rate-mbit 100] [--stats FILE]
Prints "listening on PORT" once it accepts. --stats: the total downstream bytes are written to
FILE after every closed connection (one number).
"""

import argparse
import asyncio
import collections
import time


class Direction:
    """One direction of one connection: blocks read, waiting for their arrival time."""

    def __init__(self, limit):
        self.queue = collections.deque()
        self.queued = 0
        self.limit = limit
        self.changed = asyncio.Event()


class Link:
    def __init__(self, delay, rate):
        self.delay = delay
        self.rate = rate  # bytes a second; 0: no cap
        self.wire_free = 0.0  # when the downstream wire can take the next block
        self.downstream_bytes = 0

    def arrival(self, size, downstream):
        now = time.monotonic()
        if downstream and self.rate > 0:
            start = max(now, self.wire_free)
            self.wire_free = start + size / self.rate
            return self.wire_free + self.delay
        return now + self.delay


async def pump(reader, writer, link, downstream, limit, stats):
    direction = Direction(limit)
    finished = False

    async def read_side():
        nonlocal finished
        try:
            while True:
                while direction.queued >= direction.limit:
                    direction.changed.clear()
                    await direction.changed.wait()
                data = await reader.read(65536)
                if not data:
                    break
                direction.queue.append((link.arrival(len(data), downstream), data))
                direction.queued += len(data)
                direction.changed.set()
        except (ConnectionError, OSError):
            pass
        finished = True
        direction.changed.set()

    async def write_side():
        try:
            while True:
                if not direction.queue:
                    if finished:
                        break
                    direction.changed.clear()
                    await direction.changed.wait()
                    continue
                at, data = direction.queue[0]
                wait = at - time.monotonic()
                if wait > 0:
                    await asyncio.sleep(wait)
                direction.queue.popleft()
                direction.queued -= len(data)
                direction.changed.set()
                writer.write(data)
                await writer.drain()
                if downstream:
                    link.downstream_bytes += len(data)
        except (ConnectionError, OSError):
            pass
        try:
            if writer.can_write_eof():
                writer.write_eof()
        except (ConnectionError, OSError):
            pass

    await asyncio.gather(read_side(), write_side())


async def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--target", required=True, help="HOST:PORT of the server behind")
    parser.add_argument("--listen", type=int, default=0, help="loopback port (0: any free)")
    parser.add_argument("--delay-ms", type=float, default=15.0, help="one-way delay")
    parser.add_argument("--rate-mbit", type=float, default=100.0, help="downstream cap")
    parser.add_argument("--buffer", type=int, default=4 << 20, help="bytes held per direction")
    parser.add_argument("--stats", help="file receiving the downstream byte total")
    args = parser.parse_args()
    host, port = args.target.rsplit(":", 1)
    link = Link(args.delay_ms / 1000.0, args.rate_mbit * 1e6 / 8)

    async def serve(client_reader, client_writer):
        # The client's connection was accepted here at once; a real one costs a round trip.
        await asyncio.sleep(2 * link.delay)
        try:
            server_reader, server_writer = await asyncio.open_connection(host, int(port))
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(
            pump(client_reader, server_writer, link, False, args.buffer, args.stats),
            pump(server_reader, client_writer, link, True, args.buffer, args.stats))
        for writer in (client_writer, server_writer):
            writer.close()
        if args.stats:
            with open(args.stats, "w") as out:
                out.write(f"{link.downstream_bytes}\n")

    server = await asyncio.start_server(serve, "127.0.0.1", args.listen)
    print(f"listening on {server.sockets[0].getsockname()[1]}", flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        pass
