#!/usr/bin/python3
"""A minimal system log daemon for the simulated router and the tests.

  syslogd.py SOCKET FILE [READY]

Binds a Unix datagram socket at SOCKET (the /dev/log of a private /dev) and appends every message
it receives to FILE, one line each, as the sender wrote it ("<PRI>TIME TAG: TEXT") without its
trailing newline; a message is never cut. Touches READY once it listens. Runs until killed.
"""
import os
import socket
import sys

MAX_MESSAGE = 1 << 18   # above the largest datagram a sender's default buffer allows


def main():
    if len(sys.argv) not in (3, 4):
        print(__doc__, file=sys.stderr)
        return 2
    path, out_path = sys.argv[1], sys.argv[2]
    try:
        os.unlink(path)
    except FileNotFoundError:
        pass
    sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    sock.bind(path)
    os.chmod(path, 0o666)
    out = os.open(out_path, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
    if len(sys.argv) == 4:
        open(sys.argv[3], "w").close()
    while True:
        msg = sock.recv(MAX_MESSAGE)
        os.write(out, msg.rstrip(b"\n") + b"\n")


if __name__ == "__main__":
    sys.exit(main())
