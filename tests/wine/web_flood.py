#!/usr/bin/env python3
"""A flood of clients at the status page on loopback, and the phone.

For SECONDS: 8 connections from 127.0.0.2 that each send a byte of a GET
every 200 ms and never its last, 100 from 127.0.0.3 that send a byte a
second, and a new connection from 127.0.0.4 every 5 ms that sends nothing
and is closed after 2 s. After the first second the phone (127.0.0.1)
loads the page every 250 ms, each load given 5 s. Prints one line per
phone load: "<ms> <status line or 'none'>", then "flood done". Bounded
in time and count, loopback only.
"""
import argparse
import socket
import threading
import time

GET = b"GET / HTTP/1.1\r\nHost: brunnen\r\n\r\n"


def open_from(source, port):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.setblocking(False)
    s.bind((source, 0))
    s.connect_ex(("127.0.0.1", port))
    return s


class Slow:
    """A connection that sends the next byte of a GET every `every` s."""

    def __init__(self, source, port, every):
        self.source, self.port, self.every = source, port, every
        self.sock, self.sent, self.next = None, 0, 0.0

    def step(self, now):
        if now < self.next:
            return
        self.next = now + self.every
        if self.sock is not None:
            try:
                if self.sock.recv(4096) == b"":
                    raise OSError("closed")
            except BlockingIOError:
                pass
            except OSError:
                self.sock.close()
                self.sock = None
        if self.sock is None:
            self.sock, self.sent = open_from(self.source, self.port), 0
            return
        if self.sent + 1 < len(GET):
            try:
                self.sent += self.sock.send(GET[self.sent:self.sent + 1])
            except OSError:
                pass

    def close(self):
        if self.sock is not None:
            self.sock.close()


def phone_load(port, limit):
    start = time.monotonic()
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.settimeout(limit)
    answer = b""
    try:
        s.connect(("127.0.0.1", port))
        s.sendall(GET)
        while time.monotonic() - start < limit:
            s.settimeout(max(0.01, limit - (time.monotonic() - start)))
            part = s.recv(65536)
            if not part:
                break
            answer += part
    except OSError:
        pass
    finally:
        s.close()
    ms = (time.monotonic() - start) * 1000
    whole = answer.startswith(b"HTTP/1.1 200 OK") and b"</html>" in answer
    status = answer.split(b"\r\n", 1)[0].decode("latin-1") if answer else "none"
    return ms, status if whole or not answer else status + " (cut)"


def main():
    a = argparse.ArgumentParser()
    a.add_argument("--port", type=int, required=True)
    a.add_argument("--seconds", type=float, default=12)
    args = a.parse_args()
    slow = [Slow("127.0.0.2", args.port, 0.2) for _ in range(8)]
    slow += [Slow("127.0.0.3", args.port, 1.0) for _ in range(100)]
    silent = []
    start = time.monotonic()
    next_silent = start
    stop = threading.Event()

    def phone():
        time.sleep(1.0)
        while not stop.is_set():
            began = time.monotonic()
            ms, status = phone_load(args.port, 5.0)
            print("%d %s" % (ms, status), flush=True)
            time.sleep(max(0.0, 0.25 - (time.monotonic() - began)))

    phoning = threading.Thread(target=phone)
    phoning.start()
    while time.monotonic() - start < args.seconds:
        now = time.monotonic()
        for c in slow:
            c.step(now)
        while next_silent <= now:
            next_silent += 0.005
            silent.append((now + 2.0, open_from("127.0.0.4", args.port)))
        while silent and silent[0][0] <= now:
            silent.pop(0)[1].close()
        time.sleep(0.005)
    stop.set()
    phoning.join()
    for c in slow:
        c.close()
    for _, s in silent:
        s.close()
    print("flood done", flush=True)


if __name__ == "__main__":
    main()
