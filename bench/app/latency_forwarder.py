#!/usr/bin/env python3
"""A TCP forwarder on 127.0.0.1 that makes a local server look one internet round trip away.

Each new connection is held for one round-trip time before it is connected through (the handshake
a real link costs), and every chunk, in either direction, is delivered half a round trip after it
arrived, in order. Prints the port it listens on, alone on a line, once it listens; runs until
killed.

    bench/app/latency_forwarder.py TARGET-HOST TARGET-PORT [--rtt-ms MS]   (default 50)
"""
import argparse
import asyncio
import socket

CHUNK_BYTES = 64 * 1024
# Bounds what one direction holds while it waits out the delay; past it the reader stops and TCP
# pushes back on the sender, so no byte is dropped.
QUEUED_CHUNKS = 256


async def first_failure(*coroutines):
    """Runs the coroutines to their end; when one fails the others are cancelled and it is raised."""
    tasks = [asyncio.create_task(c) for c in coroutines]
    try:
        done, _ = await asyncio.wait(tasks, return_when=asyncio.FIRST_EXCEPTION)
        for task in done:
            task.result()
    finally:
        for task in tasks:
            task.cancel()
        await asyncio.gather(*tasks, return_exceptions=True)


async def pump(reader, writer, one_way):
    """Reads everything from one side and delivers it to the other, each chunk one_way seconds late."""
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue(QUEUED_CHUNKS)

    async def receive():
        while True:
            data = await reader.read(CHUNK_BYTES)
            await queue.put((loop.time() + one_way, data or None))
            if not data:
                return

    async def deliver():
        while True:
            due, data = await queue.get()
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if data is None:
                # The sender's end of stream travels like data, so it is half-closed late too.
                if writer.can_write_eof():
                    writer.write_eof()
                return
            writer.write(data)
            await writer.drain()

    await first_failure(receive(), deliver())


async def serve_connection(client_reader, client_writer, target, rtt):
    upstream_writer = None
    failed = False
    try:
        # The client's first bytes wait in the socket meanwhile, as they would behind a handshake.
        await asyncio.sleep(rtt)
        upstream_reader, upstream_writer = await asyncio.open_connection(*target)
        upstream_writer.get_extra_info("socket").setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        # A failure in one direction (a reset, a closed socket) leaves the other nowhere to go.
        await first_failure(pump(client_reader, upstream_writer, rtt / 2),
                            pump(upstream_reader, client_writer, rtt / 2))
    except OSError:
        failed = True
    finally:
        for writer in (client_writer, upstream_writer):
            if writer is None:
                continue
            # After a failure both ends are reset, so neither takes a cut stream for a whole one.
            if failed:
                writer.transport.abort()
            else:
                writer.close()
            try:
                await writer.wait_closed()
            except OSError:
                pass


async def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("host")
    parser.add_argument("port", type=int)
    parser.add_argument("--rtt-ms", type=float, default=50.0)
    args = parser.parse_args()
    rtt = args.rtt_ms / 1000
    target = (args.host, args.port)

    def on_connection(reader, writer):
        writer.get_extra_info("socket").setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        return serve_connection(reader, writer, target, rtt)

    server = await asyncio.start_server(on_connection, "127.0.0.1", 0, limit=CHUNK_BYTES)
    print(server.sockets[0].getsockname()[1], flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
