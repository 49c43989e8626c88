#!/usr/bin/python3
"""UDP tool of the simulated LAN client (and of tests): listen for datagrams, send one (broadcast
allowed), or ask the router's discovery responder where the router is.

    lanclient.py listen PORT [--count N] [--timeout S] [--ready FILE]
        prints "ADDR:PORT TEXT" per datagram; exits 0 after N datagrams (default 1), 1 on time-out
    lanclient.py send ADDR PORT TEXT [--from-port P]
    lanclient.py discover [ADDR] [--timeout S] [--request TEXT]
        sends the discovery request (default {"code": 5}) to ADDR:7167 (default 192.168.1.255)
        and prints the reply that comes back to port 7168
"""

import argparse
import socket
import sys
import time

DISCOVERY_PORT = 7167
REPLY_PORT = 7168


def udp_socket(port=0):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    s.bind(("0.0.0.0", port))
    return s


def receive(sock, count, timeout):
    deadline = time.monotonic() + timeout
    got = 0
    while got < count:
        left = deadline - time.monotonic()
        if left <= 0:
            return 1
        sock.settimeout(left)
        try:
            data, (addr, port) = sock.recvfrom(65535)
        except socket.timeout:
            return 1
        print("%s:%d %s" % (addr, port, data.decode("utf-8", "replace")), flush=True)
        got += 1
    return 0


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = ap.add_subparsers(dest="cmd", required=True)
    p = sub.add_parser("listen")
    p.add_argument("port", type=int)
    p.add_argument("--count", type=int, default=1)
    p.add_argument("--timeout", type=float, default=5)
    p.add_argument("--ready")
    p = sub.add_parser("send")
    p.add_argument("addr")
    p.add_argument("port", type=int)
    p.add_argument("text")
    p.add_argument("--from-port", type=int, default=0)
    p = sub.add_parser("discover")
    p.add_argument("addr", nargs="?", default="192.168.1.255")
    p.add_argument("--timeout", type=float, default=3)
    p.add_argument("--request", default='{"code": 5}')
    args = ap.parse_args()

    if args.cmd == "listen":
        sock = udp_socket(args.port)
        if args.ready:
            with open(args.ready, "w", encoding="ascii") as f:
                f.write("ready\n")
        return receive(sock, args.count, args.timeout)
    if args.cmd == "send":
        sock = udp_socket(args.from_port)
        sock.sendto(args.text.encode(), (args.addr, args.port))
        return 0
    sock = udp_socket(REPLY_PORT)
    sock.sendto(args.request.encode(), (args.addr, DISCOVERY_PORT))
    return receive(sock, 1, args.timeout)


if __name__ == "__main__":
    sys.exit(main())
