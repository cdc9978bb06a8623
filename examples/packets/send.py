#!/usr/bin/env python3
"""send.py PIPE COUNT: the packet producer in Python, with nothing but the
standard library. It finds the pipe's socket as the library names it,
frames each message as the library does (a 32-bit length in the machine's
byte order, then the bytes) and sends the same packets as packet_producer,
then "end"."""
import os
import socket
import struct
import sys
import time

PLAIN = set(b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-")


def pipe_path(name):
    """Where the library puts the socket of the pipe `name`."""
    run = os.environ.get("XDG_RUNTIME_DIR")
    folder = f"{run}/kqbridge" if run else f"/tmp/kqbridge-{os.getuid()}"
    raw = name.encode()
    if 1 <= len(raw) <= 64 and raw not in (b".", b"..") and set(raw) <= PLAIN:
        return f"{folder}/{name}"
    h = 0xCBF29CE484222325  # 64-bit FNV-1a of the name's bytes
    for b in raw:
        h = ((h ^ b) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return f"{folder}/~{h:016x}"


def connect(path, seconds=10.0):
    """The consumer may still be starting: try again for a while."""
    deadline = time.monotonic() + seconds
    while True:
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            s.connect(path)
            return s
        except OSError:
            s.close()
            if time.monotonic() > deadline:
                raise
            time.sleep(0.05)


def packet(seq):
    size = 16 + seq * 37 % 4000
    return struct.pack("=I", seq) + bytes((seq * 7 + i) & 0xFF for i in range(size))


def send(s, message):
    s.sendall(struct.pack("=I", len(message)) + message)


def main():
    if len(sys.argv) != 3 or int(sys.argv[2]) < 1:
        sys.exit("usage: send.py PIPE COUNT")
    name, count = sys.argv[1], int(sys.argv[2])
    total = 0
    with connect(pipe_path(name)) as s:
        for seq in range(count):
            message = packet(seq)
            send(s, message)
            total += len(message)
        send(s, b"end")
    print(f"send.py: sent {count} packets ({total} bytes) to {name}")


if __name__ == "__main__":
    main()
