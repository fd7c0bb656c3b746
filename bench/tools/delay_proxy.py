#!/usr/bin/env python3
"""Loopback TCP relay that holds every chunk for DELAY ms in each direction.

    delay_proxy.py LISTEN_PORT TARGET_PORT DELAY_MS [--no-pipelining]

Latency only: chunks keep their order and are not rate-limited, so a
30 ms round trip costs what it costs on a real line.  --no-pipelining hides
PIPELINING from the server's CAPA answer, which makes a client fall back to
one command per answer: the sequential form of the same run.
"""
import asyncio
import sys


async def relay(reader, writer, delay, strip):
    queue = asyncio.Queue()
    loop = asyncio.get_running_loop()

    async def pump():
        while True:
            due, data = await queue.get()
            if data is None:
                break
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            writer.write(data)
            await writer.drain()
        try:
            writer.write_eof()
        except (OSError, RuntimeError):
            pass

    task = asyncio.ensure_future(pump())
    try:
        while True:
            data = await reader.read(65536)
            if not data:
                break
            if strip:
                data = data.replace(b"PIPELINING\r\n", b"X-HIDDEN\r\n")
            queue.put_nowait((loop.time() + delay, data))
    except OSError:
        pass
    queue.put_nowait((loop.time() + delay, None))
    try:
        await task
    except OSError:
        pass
    writer.close()


async def main():
    listen, target, delay_ms = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
    strip = "--no-pipelining" in sys.argv[4:]
    delay = delay_ms / 1000.0

    async def serve(client_reader, client_writer):
        server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target)
        await asyncio.gather(
            relay(client_reader, server_writer, delay, False),
            relay(server_reader, client_writer, delay, strip),
        )

    server = await asyncio.start_server(serve, "127.0.0.1", listen)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
