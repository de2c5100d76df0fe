#!/usr/bin/env python3
"""Floods a real zorvex-node with "Ping-" from eight stranger addresses while a bystander asks
once a second, and reports how many probes were answered within a second, the flood's rate and
the node's memory growth. The bystander's share is printed against a quiet baseline measured in
the same run.

Usage: bench/flood.py ZORVEX_NODE [--seconds 10] [--senders 8] [--rate 0 (= as fast as possible)]
Needs the right to bind UDP port 620 on 127.0.1.x (root, or the capability on the binary).
Only 127.0.1.x addresses are used: the node on 127.0.1.100, the bystander on 127.0.1.20, the
flooders on 127.0.1.1 to 127.0.1.8.
"""
import argparse
import multiprocessing
import os
import socket
import subprocess
import sys
import tempfile
import time

KEY = b"%Tq8!zW2"
NODE = "127.0.1.100"
BYSTANDER = "127.0.1.20"
PORT = 620


def rc4(data, key=KEY):
    s = list(range(256))
    j = 0
    for i in range(256):
        j = (j + s[i] + key[i % len(key)]) % 256
        s[i], s[j] = s[j], s[i]
    out = bytearray()
    i = j = 0
    for byte in data:
        i = (i + 1) % 256
        j = (j + s[i]) % 256
        s[i], s[j] = s[j], s[i]
        out.append(byte ^ s[(s[i] + s[j]) % 256])
    return bytes(out)


def rss_kib(pid, field="VmRSS:"):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(field):
                return int(line.split()[1])
    return 0


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def udp_drops(address, port):
    """Datagrams the system dropped for the socket bound to address:port (its buffer was full)."""
    local = f"{socket.inet_aton(address)[::-1].hex().upper()}:{port:04X}"
    with open("/proc/net/udp") as f:
        for line in f:
            fields = line.split()
            if len(fields) > 12 and fields[1] == local:
                return int(fields[-1])
    return 0


def flood(senders, seconds, rate, counter):
    payload = rc4(b"Ping-")
    socks = []
    for k in range(senders):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind((f"127.0.1.{k + 1}", 0))
        socks.append(s)
    target = (NODE, PORT)
    sent = 0
    end = time.monotonic() + seconds
    start = time.monotonic()
    while time.monotonic() < end:
        for _ in range(200):
            for s in socks:
                try:
                    s.sendto(payload, target)
                    sent += 1
                except (BlockingIOError, ConnectionRefusedError, OSError):
                    pass
        if rate:
            ahead = sent / rate - (time.monotonic() - start)
            if ahead > 0:
                time.sleep(ahead)
    counter.value = sent


def probe(count, timeout=1.0):
    """Sends "Ping-" once a second; returns how many were answered with "Pong-" in time."""
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind((BYSTANDER, PORT))
    ping, pong = rc4(b"Ping-"), rc4(b"Pong-")
    answered = 0
    for _ in range(count):
        begin = time.monotonic()
        s.sendto(ping, (NODE, PORT))
        s.settimeout(timeout)
        got = False
        while not got:
            left = timeout - (time.monotonic() - begin)
            if left <= 0:
                break
            s.settimeout(left)
            try:
                data, (addr, _) = s.recvfrom(2048)
            except socket.timeout:
                break
            got = addr == NODE and data == pong
        answered += got
        time.sleep(max(0.0, 1.0 - (time.monotonic() - begin)))
    s.close()
    return answered


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("node")
    parser.add_argument("--seconds", type=int, default=10)
    parser.add_argument("--senders", type=int, default=8)
    parser.add_argument("--rate", type=int, default=0, help="datagrams a second, 0 = flat out")
    args = parser.parse_args()

    home = tempfile.mkdtemp(prefix="zorvex-flood-")
    node = subprocess.Popen(
        [args.node, "--home", home, "--bind", NODE, "--nickname", "Flooded",
         "--gateway", "None=127.0.1.250:9/gateway.php"],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        time.sleep(1.5)
        if node.poll() is not None:
            sys.exit("the node did not start (port 620 on 127.0.1.100 taken, or no right to bind)")
        quiet = probe(5)
        before = rss_kib(node.pid)
        cpu_before, drops_before = cpu_seconds(node.pid), udp_drops(NODE, PORT)
        counter = multiprocessing.Value("q", 0)
        flooder = multiprocessing.Process(target=flood,
                                          args=(args.senders, args.seconds, args.rate, counter))
        flooder.start()
        time.sleep(0.2)
        answered = probe(args.seconds - 1)
        flooder.join()
        peak = rss_kib(node.pid, "VmHWM:")
        cpu = cpu_seconds(node.pid) - cpu_before
        drops = udp_drops(NODE, PORT) - drops_before
        time.sleep(2)
        alive = node.poll() is None
        after_probe = probe(3) if alive else 0
        sent = counter.value
        print(f"flood: {args.senders} senders, {sent / args.seconds:,.0f} datagrams/s "
              f"for {args.seconds} s")
        print(f"bystander quiet:   {quiet}/5 answered within 1 s")
        print(f"bystander flooded: {answered}/{args.seconds - 1} answered within 1 s "
              f"({answered / (args.seconds - 1):.2f} of the quiet share {quiet / 5:.2f})")
        print(f"after the flood:   {after_probe}/3 answered; node alive: {alive}")
        # Under a flood the node is as fast as the CPU it gets: datagrams taken in per CPU second
        # compare builds even on a busy machine.
        taken = max(0, sent - drops)
        print(f"node: {cpu:.2f} CPU s in the flood; the system dropped {drops:,} of {sent:,} "
              f"({drops / max(1, sent):.0%}); {taken / max(cpu, 0.01):,.0f} datagrams taken in "
              f"per CPU s")
        print(f"memory: {before / 1024:.1f} MiB before, {peak / 1024:.1f} MiB at the end of the "
              f"flood, growth {(peak - before) / 1024:.1f} MiB")
    finally:
        node.terminate()
        try:
            node.wait(5)
        except subprocess.TimeoutExpired:
            node.kill()
        subprocess.run(["rm", "-rf", home])


if __name__ == "__main__":
    main()
