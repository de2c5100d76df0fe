#!/usr/bin/env python3
"""A hostile peer for the soak run: malformed datagrams of every message family, random bytes,
well enciphered garbage, and half-open or garbage transfer connections; or, with --flood, "Ping-"
as fast as one process can send from eight addresses.

Usage:
  soak_chaos.py --targets 127.0.4.1,127.0.4.2 --seconds 60 [--rate 200] [--address 127.0.4.50]
  soak_chaos.py --flood 127.0.4.3 --seconds 5
Only addresses in 127.0.4.0/24 are named in what is sent, so that no node is sent elsewhere.
"""
import argparse
import os
import random
import socket
import struct
import sys
import time

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bench"))
from flood import PORT, rc4  # noqa: E402  the one copy of the datagram cipher

DOWNLOAD_PORT = 5503


NUMBERS = ["-1", "-2147483648", "2147483647", "2147483648", "4294967296", "-4294967297",
           "99999999999999999999999", "-99999999999999999999", "", "abc", "1e9", "0x10", " 5",
           "-0", "+7", "3.5", "0", "1", "65536", "-65536", "9223372036854775808"]


def hostile_number(rng):
    return rng.choice(NUMBERS)


def hostile_text(rng):
    return rng.choice(["", "a", "../", "../../etc/passwd", "|" * 40, "~~~", "A" * rng.choice(
        [300, 5000, 60000 // 4]), "\x00\x01\x02", "song.mp3", "x" * 200 + ".mp3", "%00", "\r\n",
        "\u00e9\u00e8".encode().decode("latin-1")])


def hostile_address(rng, own):
    # Only this run's nodes and own address, or texts that are not host addresses at all: a
    # neighbour may tell a node its own address, after which the node ignores that address, so
    # the flooders' and the prober's addresses (127.0.4.51 and up) are never named.
    return rng.choice([own, f"127.0.4.{rng.randint(1, 49)}", "0.0.0.0", "255.255.255.255",
                       "999.1.1.1", "127.0.4", "127.0.4.01", "", "-1.-1.-1.-1", "127.0.4.1|x"])


def stranger_address(rng, own):
    """For ConnectIP: telling a node that its own address is another node's would make it ignore
    that node, as the protocol wants, and split the soak's network; so no node's address."""
    return rng.choice([own, f"127.0.4.{rng.randint(30, 49)}", "0.0.0.0", "999.1.1.1", "",
                       "127.0.4.01"])


def hostile_hash(rng):
    return rng.choice(["0123456789ABCDEF0123456789ABCDEF", "", "G" * 32, "0" * 31, "0" * 33,
                       "%032X" % rng.getrandbits(128)])


def family_message(rng, own):
    n, t, a, h = (lambda: hostile_number(rng)), (lambda: hostile_text(rng)), (
        lambda: hostile_address(rng, own)), (lambda: hostile_hash(rng))
    choices = [
        lambda: f"ConnectNew:{t()}|{n()}|{n()}|{t()}|{t()}|{n()}",
        lambda: f"ConnectEst:{t()}|{n()}|{n()}|{t()} Mb|1.2.1|{n()}",
        lambda: f"ConnectRqr:{a()}|{n()}",
        lambda: f"ConnectRqr:|{n()}",
        lambda: "ConnectDisconnect" + rng.choice(["", ":", t()]),
        lambda: f"ConnectIP:{stranger_address(rng, own)}",
        lambda: f"SearchFor:{t()}|{n()}|{n()}",
        lambda: f"SearchList:{t()}|{n()}|" + "|".join(a() for _ in range(rng.randint(0, 40))),
        lambda: f"SearchFound:{t()}|{n()}|{t()}|{n()}|{t()}|{n()}|{h()}|{t()}|{t()}",
        lambda: f"SearchDownload:{t()}|{n()}|{t()}|{h()}",
        lambda: f"SourceSearch:{t()}|{h()}|{n()}",
        lambda: f"SourceData:{t()}|" + "|".join(a() for _ in range(rng.randint(0, 40))),
        lambda: f"SourceFound:{t()}|{h()}|{n()}|{n()}",
        lambda: rng.choice(["Ping+", "Ping-", "Pong+", "Pong-"]) + rng.choice(["", t(), n()]),
        lambda: f"MiscError:{t()}",
        lambda: f"MiscIM:{t()}|" + rng.choice(["", "zz", "4", "41" * 3000, t()]),
    ]
    return rng.choice(choices)()


def datagram(rng, own):
    kind = rng.random()
    if kind < 0.7:
        return rc4(family_message(rng, own).encode("latin-1", "replace")[:65000])
    if kind < 0.85:
        return rng.randbytes(rng.choice([0, 1, 5, 100, 1400, 9000]))
    return rc4(rng.randbytes(rng.choice([1, 30, 500])))


def tcp_abuse(rng, own, target, holding):
    """Opens one hostile transfer connection; half-open ones are kept in `holding` a while."""
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.setblocking(False)
    try:
        s.bind((own, 0))
        s.connect_ex((target, DOWNLOAD_PORT))
        time.sleep(0.02)
        mode = rng.randrange(6)
        payloads = [b"", rng.randbytes(3000), b"Start:song.mp3|-1", b"Packet:-5Packet:99999999999",
                    b"S" * 2000, b"Start:../../x|0Pause" + b"Close"]
        try:
            s.send(payloads[mode])
        except OSError:
            pass
        if mode in (0, 2) or rng.random() < 0.3:
            holding.append((time.monotonic() + rng.uniform(2, 15), s))  # left half-open
            return
        if rng.random() < 0.5:  # reset instead of an orderly close
            s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        s.close()
    except OSError:
        s.close()


def chaos(args):
    rng = random.Random(args.seed)
    targets = args.targets.split(",")
    udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    udp.bind((args.address, PORT))
    udp.setblocking(False)
    holding = []
    sent = connections = 0
    end = time.monotonic() + args.seconds
    next_tcp = time.monotonic()
    while time.monotonic() < end:
        tick = time.monotonic()
        for _ in range(max(1, args.rate // 20)):
            try:
                udp.sendto(datagram(rng, args.address), (rng.choice(targets), PORT))
                sent += 1
            except OSError:
                pass
        while True:  # what the nodes answer is read and dropped
            try:
                udp.recv(70000)
            except OSError:
                break
        if tick >= next_tcp:
            tcp_abuse(rng, args.address, rng.choice(targets), holding)
            connections += 1
            next_tcp = tick + 0.25
        now = time.monotonic()
        for item in [h for h in holding if h[0] <= now]:
            item[1].close()
            holding.remove(item)
        time.sleep(max(0.0, 0.05 - (time.monotonic() - tick)))
    for _, s in holding:
        s.close()
    print(f"chaos: {sent} datagrams, {connections} transfer connections", flush=True)


def flood(args):
    payload = rc4(b"Ping-")
    socks = []
    for k in range(8):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind((f"127.0.4.{51 + k}", 0))
        socks.append(s)
    sent = 0
    end = time.monotonic() + args.seconds
    while time.monotonic() < end:
        for _ in range(200):
            for s in socks:
                try:
                    s.sendto(payload, (args.flood, PORT))
                    sent += 1
                except OSError:
                    pass
    print(f"flood: {sent / args.seconds:,.0f} datagrams/s at {args.flood} for {args.seconds} s",
          flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--targets", default="")
    parser.add_argument("--flood", default="")
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--rate", type=int, default=200, help="datagrams a second")
    parser.add_argument("--address", default="127.0.4.50")
    parser.add_argument("--seed", type=int, default=620)
    args = parser.parse_args()
    for address in [args.address, args.flood] + args.targets.split(","):
        if address and not address.startswith("127.0.4."):
            sys.exit(f"soak_chaos: {address} is outside 127.0.4.0/24")
    if args.flood:
        flood(args)
    else:
        chaos(args)


if __name__ == "__main__":
    main()
