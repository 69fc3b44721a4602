#!/usr/bin/env python3
"""A TCP forwarder that delays every chunk by a fixed time in each direction.

Clients connect to it as if it were the server; each client connection gets exactly one
upstream connection. A chunk is due DELAY after it was read and chunks in flight wait
concurrently, so the delay acts like link latency, not like a per-chunk sleep that would cap
the bandwidth. Order is kept per direction. SIGTERM (or SIGINT) closes everything and exits 0.

Usage: delay_proxy.py --upstream HOST:PORT [--listen HOST:PORT] [--delay-ms MS]
                      [--port-file FILE]
With port 0 in --listen the kernel picks the port; --port-file receives it once listening.
"""
import argparse
import asyncio
import os
import signal
import socket
import sys


def no_delay(writer):
    # Small requests must leave at once; Nagle would add its own wait on top of ours.
    sock = writer.get_extra_info("socket")
    if sock is not None:
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)


async def pump(reader, writer, delay):
    """Copies reader to writer, each chunk (and the end of stream) due `delay` after read."""
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def read_side():
        try:
            while True:
                data = await reader.read(65536)
                queue.put_nowait((loop.time() + delay, data))
                if not data:
                    return
        except (ConnectionError, OSError):
            queue.put_nowait((loop.time() + delay, b""))

    async def write_side():
        while True:
            due, data = await queue.get()
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if not data:
                if writer.can_write_eof():
                    writer.write_eof()
                return
            writer.write(data)
            await writer.drain()

    reading = asyncio.ensure_future(read_side())
    try:
        await write_side()
    except (ConnectionError, OSError):
        pass
    finally:
        reading.cancel()


async def serve_one(client_reader, client_writer, upstream, delay):
    try:
        up_reader, up_writer = await asyncio.open_connection(*upstream)
    except OSError:
        client_writer.close()
        return
    no_delay(client_writer)
    no_delay(up_writer)
    try:
        await asyncio.gather(pump(client_reader, up_writer, delay),
                             pump(up_reader, client_writer, delay))
    finally:
        for w in (client_writer, up_writer):
            w.close()


def host_port(text):
    host, _, port = text.rpartition(":")
    return host or "127.0.0.1", int(port)


async def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--upstream", required=True, type=host_port)
    ap.add_argument("--listen", default="127.0.0.1:0", type=host_port)
    ap.add_argument("--delay-ms", default=25.0, type=float)
    ap.add_argument("--port-file")
    args = ap.parse_args()
    delay = args.delay_ms / 1000.0

    connections = set()

    async def on_client(r, w):
        task = asyncio.current_task()
        connections.add(task)
        try:
            await serve_one(r, w, args.upstream, delay)
        except asyncio.CancelledError:
            pass  # stopping: the connection is closed by serve_one
        finally:
            connections.discard(task)

    server = await asyncio.start_server(on_client, *args.listen)
    port = server.sockets[0].getsockname()[1]
    if args.port_file:
        # Written whole under another name first, so a reader never sees half a number.
        tmp = args.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write(f"{port}\n")
        os.rename(tmp, args.port_file)

    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)
    await stop.wait()
    server.close()
    for task in list(connections):
        task.cancel()
    await asyncio.gather(*connections, return_exceptions=True)
    await server.wait_closed()


if __name__ == "__main__":
    asyncio.run(main())
    sys.exit(0)
