#!/usr/bin/env python3
"""A board port on loopback that never takes a connection.

Listens on 127.0.0.1 with the smallest accept queue and fills that queue
with connections of its own that it never accepts. From then on the system
drops every SYN to the port: a connect there neither completes nor fails,
as with a board that is switched off. Writes the port to the ready file
once the queue is full, and ends by itself after its lifetime (or on
SIGTERM).
"""
import argparse
import select
import socket
import sys
import time


def fill(port):
    """Connects until one connection stays pending; returns them all."""
    fillers = []
    for _ in range(64):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.setblocking(False)
        fillers.append(s)
        s.connect_ex(("127.0.0.1", port))
        _, writable, _ = select.select([], [s], [], 0.3)
        if not writable:
            return fillers
        if s.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR) != 0:
            break
    for s in fillers:
        s.close()
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--ready-file", required=True)
    parser.add_argument("--lifetime", type=float, default=120.0,
                        help="seconds, at most 600")
    args = parser.parse_args()
    lifetime = min(max(args.lifetime, 0.0), 600.0)

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", args.port))
    listener.listen(0)
    fillers = fill(listener.getsockname()[1])
    if fillers is None:
        print("full_queue: the accept queue did not fill", file=sys.stderr)
        return 1
    with open(args.ready_file, "w") as f:
        f.write("%d\n" % listener.getsockname()[1])
    print("full_queue: port %d full with %d connections"
          % (listener.getsockname()[1], len(fillers)), flush=True)
    time.sleep(lifetime)
    for s in fillers:
        s.close()
    listener.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
