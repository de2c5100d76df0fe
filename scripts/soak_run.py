#!/usr/bin/env python3
"""Runs a network of real zorvex-node processes on 127.0.4.1 to 127.0.4.N for a while under
searches, transfers (one cut by stopping its node and resumed after the restart), nodes leaving
and joining, a hostile peer on 127.0.4.50 and a short flood; then checks that no sanitizer
reported anything, every node still answers "Ping-", every download has the right MD5 and no
node's memory kept growing. Exit status 0 when all holds, 77 when port 620 cannot be bound.

Usage: soak_run.py --node ZORVEX_NODE (--minutes M | --short) [--nodes N] [--keep]
"""
import argparse
import hashlib
import json
import os
import random
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from soak_chaos import rc4  # noqa: E402

SKIP = 77
PORT = 620
PROBE = "127.0.4.60"
# A node is flat when its resident memory grew by no more than this from the end of its warm-up
# to the end of the run: a clean 10-minute run grows by 2 MiB at most, while a leak of one small
# record per hostile datagram passes the limit within minutes.
FLAT_LIMIT_KIB = 6 * 1024


class Node:
    def __init__(self, run, index, share, extra=()):
        self.run, self.index = run, index
        self.address = f"127.0.4.{index}"
        self.home = os.path.join(run.work, f"node{index}")
        os.makedirs(self.home, exist_ok=True)
        self.args = ["--home", self.home, "--bind", self.address, "--nickname", f"soak{index:02d}",
                     "--gateway", run.gateway, "--share", share, *extra]
        self.proc = None
        self.recorded = False  # the exit of the latest start was seen
        self.starts = []  # (run second, log offset) of every start
        self.exit_codes = []

    def log_path(self):
        return os.path.join(self.home, "stderr.log")

    def start(self):
        offset = os.path.getsize(self.log_path()) if os.path.exists(self.log_path()) else 0
        with open(self.log_path(), "ab") as err:
            self.proc = subprocess.Popen([self.run.binary, *self.args], stdin=subprocess.DEVNULL,
                                         stdout=subprocess.DEVNULL, stderr=err, env=self.run.env)
        self.starts.append((self.run.now(), offset))
        self.recorded = False

    def running(self):
        return self.proc is not None and self.proc.poll() is None

    def up(self):
        with open(self.log_path(), "rb") as f:
            f.seek(self.starts[-1][1])
            return b"status: " in f.read()

    def stop(self, timeout=60, signalled=False):
        """SIGTERM runs the exit sequence (and LeakSanitizer's check); the exit code is kept. A
        second SIGTERM would end the node at once, so a node already told is only waited for."""
        if self.proc is None or self.recorded:
            return
        self.recorded = True
        if not signalled:
            self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            self.exit_codes.append("hung")
            return
        self.exit_codes.append(self.proc.returncode)

    def client(self, *args):
        try:
            return subprocess.run([self.run.binary, "--home", self.home, *args],
                                  capture_output=True, timeout=30, env=self.run.env)
        except subprocess.TimeoutExpired:
            return None

    def status(self):
        done = self.client("--status")
        try:
            return json.loads(done.stdout) if done and done.returncode == 0 else {}
        except ValueError:
            return {}

    def rss_kib(self):
        try:
            with open(f"/proc/{self.proc.pid}/status") as f:
                for line in f:
                    if line.startswith("VmRSS:"):
                        return int(line.split()[1])
        except (OSError, AttributeError):
            pass
        return None


def md5_hex(path):
    digest = hashlib.md5()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest().upper()


def can_bind_620(address):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        s.bind((address, PORT))
        return None
    except OSError as error:
        return error
    finally:
        s.close()


def free_tcp_port(address):
    s = socket.socket()
    s.bind((address, 0))
    port = s.getsockname()[1]
    s.close()
    return port


def ping_all(nodes, tries=3):
    """The nodes that answered "Ping-" with "Pong-" within a second, in up to `tries` rounds."""
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind((PROBE, PORT))
    ping, pong = rc4(b"Ping-"), rc4(b"Pong-")
    answered = set()
    for _ in range(tries):
        waiting = {n.address for n in nodes} - answered
        if not waiting:
            break
        for address in waiting:
            s.sendto(ping, (address, PORT))
        end = time.monotonic() + 1.5
        while time.monotonic() < end:
            s.settimeout(max(0.01, end - time.monotonic()))
            try:
                data, (address, _) = s.recvfrom(70000)
            except socket.timeout:
                break
            if data == pong:
                answered.add(address)
    s.close()
    return answered


class Run:
    def __init__(self, args):
        self.args = args
        self.binary = os.path.abspath(args.node)
        self.short = args.short
        self.seconds = 60 if args.short else args.minutes * 60
        self.sample_every = 15 if args.short else 60
        self.warmup = 30 if args.short else 120
        self.count = args.nodes or (8 if args.short else 20)
        self.work = tempfile.mkdtemp(prefix="zorvex-soak-", dir=args.work)
        self.logs = os.path.join(self.work, "sanitizer")
        os.makedirs(self.logs)
        self.env = dict(os.environ)
        # A small quarantine fills within the warm-up: its filling would otherwise look like
        # growth for many minutes.
        self.env["ASAN_OPTIONS"] = (f"log_path={self.logs}/asan:detect_leaks=1:halt_on_error=1:"
                                    "quarantine_size_mb=2:thread_local_quarantine_size_kb=256")
        self.env["UBSAN_OPTIONS"] = f"log_path={self.logs}/ubsan:print_stacktrace=1"
        # The runtime's own suppressions (a glibc thread-local block) are not reports: without
        # this their statistics land in the log folder as a file of their own.
        self.env["LSAN_OPTIONS"] = "print_suppressions=0"
        supp = os.path.join(os.path.dirname(os.path.abspath(__file__)), "soak_lsan.supp")
        if os.path.exists(supp):
            self.env["LSAN_OPTIONS"] += f":suppressions={supp}"
        self.gateway_at = f"127.0.4.1:{free_tcp_port('127.0.4.1')}"
        self.gateway = f"Soak={self.gateway_at}/gateway.php"
        self.rng = random.Random(620)
        self.begin = time.monotonic()
        self.failures = []
        self.files = {}  # name -> (size, md5)
        self.holders = {}  # name -> node indexes sharing it
        self.downloads = []  # dicts: node, name, started
        self.samples = {}  # node index -> list of (minute label, kib, pid)
        self.searches = []  # (node, second, word)
        self.retries = 0

    def now(self):
        return time.monotonic() - self.begin

    def say(self, text):
        print(f"[{self.now():6.1f} s] {text}", flush=True)

    def fail(self, text):
        self.failures.append(text)
        self.say("FAIL: " + text)

    # --- the world ---

    def make_files(self):
        big = (8 if self.short else 32) << 20
        root = os.path.join(self.work, "shares")
        shares = {}
        for i in range(1, self.count + 1):
            shares[i] = os.path.join(root, f"share{i}")
            os.makedirs(shares[i])
        payloads = {"soak resume.bin": ([2, 3], big)}
        payloads["soak gateway.bin"] = ([1], 50_000)
        for c in range(4):
            payloads[f"soak common {c}.bin"] = (
                [i for i in range(2, self.count + 1) if i % 4 == c], self.rng.randint(1, 300) << 10)
        for i in range(2, self.count + 1):
            payloads[f"soak unique {i}.bin"] = ([i], self.rng.randint(20, 600) << 10)
        for name, (holders, size) in payloads.items():
            data = self.rng.randbytes(size)
            for i in holders:
                with open(os.path.join(shares[i], name), "wb") as f:
                    f.write(data)
            self.files[name] = (size, hashlib.md5(data).hexdigest().upper())
            self.holders[name] = holders
        return shares

    def plan(self):
        n = self.count
        self.resumer = 4
        self.joiners = [n - 1, n] if n >= 8 else []
        self.leavers = [n - 3] if self.short else [n - 5, n - 4]
        self.flooded = 6
        self.stable = [i for i in range(2, n + 1)
                       if i not in self.joiners + self.leavers + [self.resumer]]

    def start_nodes(self, shares):
        self.nodes = {}
        for i in range(1, self.count + 1):
            extra = []
            if i == 1:
                extra = ["--serve-gateway", self.gateway_at]
            if i in self.holders["soak resume.bin"]:
                extra = ["--upload-limit", "1000"]  # slow enough to be cut in the middle
            self.nodes[i] = Node(self, i, shares[i], extra)
        self.nodes[1].start()
        self.wait_up([self.nodes[1]])
        first = [node for i, node in self.nodes.items() if i != 1 and i not in self.joiners]
        for node in first:
            node.start()
        self.wait_up(first)

    def wait_up(self, nodes, timeout=60):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if all(node.up() for node in nodes):
                return
            for node in nodes:
                if not node.running():
                    self.fail(f"node {node.index} ended at start: {tail(node.log_path())}")
                    raise SystemExit(1)
            time.sleep(0.2)
        self.fail("nodes not up in time: " + ", ".join(str(n.index) for n in nodes if not n.up()))
        raise SystemExit(1)

    # --- what happens during the run ---

    def link(self, name):
        size, digest = self.files[name]
        return f"zx://get|{name.replace(' ', '%20')}|{size}|{digest}|"

    def start_download(self, index, name):
        size = self.files[name][0]
        done = self.nodes[index].client(self.link(name))
        if not done or done.returncode != 0:
            self.fail(f"node {index} refused the download of {name}")
            return
        self.downloads.append({"node": index, "name": name, "started": self.now(), "retries": 0})
        self.say(f"node {index} downloads {name} ({size} bytes)")

    def retry_failed_downloads(self):
        """A download whose sources all failed or were never found ends as an error; as a user
        would, it is asked for again (twice at most). Every retry is reported."""
        for d in self.downloads:
            node = self.nodes[d["node"]]
            if os.path.exists(self.download_path(d)) or not node.running() or d["retries"] >= 2:
                continue
            rows = node.status().get("downloads", [])
            if any(r.get("file_name") == d["name"] and r.get("tag") == "Error" for r in rows) \
                    and not any(r.get("file_name") == d["name"] and r.get("tag") not in (
                        "Error", "Finished") for r in rows):
                d["retries"] += 1
                self.retries += 1
                self.say(f"node {d['node']}: {d['name']} ended in an error; asked again")
                node.client(self.link(d["name"]))

    def pick_download(self):
        taken = {(d["node"], d["name"]) for d in self.downloads}
        choices = [(i, name) for i in self.stable for name in self.files
                   if name != "soak resume.bin" and i not in self.holders[name]
                   and (i, name) not in taken
                   and any(h in self.stable or h == 1 for h in self.holders[name])]
        if choices:
            self.start_download(*self.rng.choice(choices))

    def cut_and_resume(self):
        """Stops the resumer once a quarter of the big file arrived, then starts it again."""
        node = self.nodes[self.resumer]
        temporary = os.path.join(node.home, "Downloads", "soak resume.binTMP")
        size = self.files["soak resume.bin"][0]
        end = time.monotonic() + 60
        while time.monotonic() < end:
            if os.path.exists(temporary) and os.path.getsize(temporary) >= size // 4:
                break
            time.sleep(0.1)
        else:
            self.fail("the big download never reached a quarter")
            return
        held = os.path.getsize(temporary)
        node.stop()
        if node.exit_codes[-1] != 0:
            self.fail(f"node {node.index} exited with {node.exit_codes[-1]} when stopped")
        if held >= size:
            self.fail("the big download finished before it was cut")
        self.say(f"node {node.index} stopped with {held} of {size} bytes; started again")
        node.start()
        self.wait_up([node])
        end = time.monotonic() + 15
        while time.monotonic() < end:
            if any(row.get("restored") for row in node.status().get("downloads", [])):
                return
            time.sleep(0.5)
        self.fail(f"node {node.index} did not restore its download after the restart")

    def search(self):
        index = self.rng.choice([i for i in self.stable if self.nodes[i].running()])
        word = self.rng.choice(["soak", "common", "unique", "gateway", "resume", "nothinglikeit"])
        done = self.nodes[index].client(f"zx://search|{word}")
        if done and done.returncode == 0:
            self.searches.append((index, self.now(), word))

    def sample(self, label):
        for i, node in self.nodes.items():
            kib = node.rss_kib() if node.running() else None
            pid = node.proc.pid if node.proc else None
            self.samples.setdefault(i, []).append((label, kib, pid, self.now()))

    def main_loop(self, chaos):
        events = [
            (8, lambda: self.start_download(self.resumer, "soak resume.bin")),
            (9, self.pick_download),
            (10, self.pick_download),
            (11, self.pick_download),
            (12, self.flood),
            (0.25 * self.seconds, self.join),
            (0.4 * self.seconds, self.leave),
            (0.6 * self.seconds, self.come_back),
        ]
        if not self.short:
            for minute in range(1, self.args.minutes - 1):
                events += [(60 * minute + 5, self.pick_download),
                           (60 * minute + 25, self.pick_download)]
        events.sort(key=lambda e: e[0])
        next_sample = self.sample_every
        next_search = 5
        next_retry = 30
        cut_done = False
        while self.now() < self.seconds:
            while events and events[0][0] <= self.now():
                events.pop(0)[1]()
            if not cut_done and self.now() > 20:
                cut_done = True
                self.cut_and_resume()
            if self.now() >= next_retry:
                self.retry_failed_downloads()
                next_retry += 10
            if self.now() >= next_search:
                self.search()
                next_search += 6
            if self.now() >= next_sample:
                self.sample(f"{next_sample // 60}:{next_sample % 60:02d}")
                next_sample += self.sample_every
            for node in self.nodes.values():
                if node.proc and not node.recorded and node.proc.poll() is not None:
                    node.recorded = True
                    node.exit_codes.append(node.proc.returncode)
                    self.fail(f"node {node.index} died: {node.proc.returncode} "
                              f"{tail(node.log_path())}")
            if chaos.poll() not in (None, 0):
                self.fail(f"the chaos peer failed with {chaos.returncode}")
                raise SystemExit(1)
            time.sleep(0.2)

    def flood(self):
        seconds = 3 if self.short else 5
        self.say(f"flooding node {self.flooded} for {seconds} s")
        self.flooder = subprocess.Popen(
            [sys.executable, os.path.join(os.path.dirname(__file__), "soak_chaos.py"), "--flood",
             self.nodes[self.flooded].address, "--seconds", str(seconds)])

    def join(self):
        joining = [self.nodes[i] for i in self.joiners]
        for node in joining:
            node.start()
        if joining:
            self.wait_up(joining)
            self.say("joined: " + ", ".join(str(n.index) for n in joining))

    def leave(self):
        for i in self.leavers:
            self.nodes[i].stop()
            if self.nodes[i].exit_codes[-1] != 0:
                self.fail(f"node {i} exited with {self.nodes[i].exit_codes[-1]} when leaving")
        self.say("left: " + ", ".join(map(str, self.leavers)))

    def come_back(self):
        for i in self.leavers:
            self.nodes[i].start()
        self.wait_up([self.nodes[i] for i in self.leavers])
        self.say("came back: " + ", ".join(map(str, self.leavers)))

    # --- the checks ---

    def download_path(self, d):
        return os.path.join(self.nodes[d["node"]].home, "Downloads", d["name"])

    def wait_downloads(self, grace):
        end = time.monotonic() + grace
        while time.monotonic() < end:
            if all(os.path.exists(self.download_path(d)) and
                   os.path.getsize(self.download_path(d)) == self.files[d["name"]][0]
                   for d in self.downloads):
                return
            self.retry_failed_downloads()
            time.sleep(3)

    def check_downloads(self):
        good = 0
        for d in self.downloads:
            path = self.download_path(d)
            if not os.path.exists(path):
                self.fail(f"node {d['node']}: {d['name']} not finished")
            elif md5_hex(path) != self.files[d["name"]][1]:
                self.fail(f"node {d['node']}: {d['name']} has the wrong MD5")
            else:
                good += 1
        print(f"downloads: {good} of {len(self.downloads)} finished with the right MD5 "
              f"(one cut and resumed after a restart; {self.retries} asked again after an error)")

    def check_searches(self):
        found = 0
        for index in {s[0] for s in self.searches}:
            if self.nodes[index].status().get("search", {}).get("results"):
                found += 1
        print(f"searches: {len(self.searches)} run on {len({s[0] for s in self.searches})} nodes; "
              f"{found} of them hold results")
        if self.searches and not found:
            self.fail("no search found anything")

    def check_memory(self):
        labels = [label for label, *_ in next(iter(self.samples.values()))]
        print("\nVmRSS in MiB per node (* a new process: restarted or joined)")
        print("node  " + " ".join(f"{label:>6}" for label in labels) + "   growth  verdict")
        worst = 0
        for i, rows in sorted(self.samples.items()):
            cells, last_pid = [], None
            for _, kib, pid, _ in rows:
                mark = "*" if last_pid is not None and pid != last_pid and kib else " "
                cells.append("     -" if kib is None else f"{kib / 1024:5.1f}{mark}")
                last_pid = pid if kib else last_pid
            # The process alive at the end, from the end of its warm-up.
            final_pid = rows[-1][2]
            started = self.nodes[i].starts[-1][0]
            mine = [(kib, t) for _, kib, pid, t in rows if pid == final_pid and kib]
            judged = [kib for kib, t in mine if t >= started + self.warmup]
            if len(judged) >= 2:
                growth = judged[-1] - judged[0]
                worst = max(worst, growth)
                verdict = "flat" if growth <= FLAT_LIMIT_KIB else "GROWING"
                if growth > FLAT_LIMIT_KIB:
                    self.fail(f"node {i} grew {growth / 1024:.1f} MiB after its warm-up")
                text = f"{growth / 1024:+6.1f}"
            else:
                text, verdict = "     -", "too young"
            print(f"{i:>4}  " + " ".join(cells) + f"  {text}  {verdict}")
        print(f"flat: at most {FLAT_LIMIT_KIB // 1024} MiB growth from {self.warmup} s after a "
              f"process started to the end; worst {worst / 1024:.1f} MiB\n")

    def check_sanitizers(self):
        reports = sorted(os.listdir(self.logs))
        for name in reports:
            self.fail(f"sanitizer report {name}:\n{tail(os.path.join(self.logs, name), 40)}")
        print(f"sanitizer reports: {len(reports)} (log_path {self.logs})")


def tail(path, lines=8):
    try:
        with open(path, "rb") as f:
            return "\n".join(f.read().decode("utf-8", "replace").splitlines()[-lines:])
    except OSError:
        return ""


def instrumented(binary):
    with open(binary, "rb") as f:
        return b"__asan_init" in f.read()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--node", required=True)
    parser.add_argument("--minutes", type=int, default=10)
    parser.add_argument("--short", action="store_true")
    parser.add_argument("--nodes", type=int, default=0)
    parser.add_argument("--work", default=None, help="where the run's folder is made")
    parser.add_argument("--keep", action="store_true", help="keep the run's folder")
    args = parser.parse_args()
    for address in ("127.0.4.1", PROBE):
        error = can_bind_620(address)
        if isinstance(error, PermissionError):
            print(f"soak: skipped, no right to bind UDP port 620 on {address} (run as root or "
                  "give zorvex-node cap_net_bind_service)")
            return SKIP
        if error:
            print(f"soak: UDP port 620 on {address} is taken ({error}); is another soak running?")
            return 1
    if not args.short and args.minutes < 3:
        print("soak: give 3 minutes or more, or --short")
        return 2

    run = Run(args)
    print(f"soak: {run.count} nodes for {run.seconds} s, binary {run.binary} "
          f"({'with' if instrumented(run.binary) else 'without'} AddressSanitizer), "
          f"folder {run.work}", flush=True)
    chaos = None
    try:
        shares = run.make_files()
        run.plan()
        run.start_nodes(shares)
        run.say(f"{len([n for n in run.nodes.values() if n.running()])} nodes up")
        run.sample("0:00")
        chaos = subprocess.Popen(
            [sys.executable, os.path.join(os.path.dirname(__file__), "soak_chaos.py"), "--targets",
             ",".join(n.address for n in run.nodes.values()),
             "--seconds", str(max(5, run.seconds - run.now() - 3)),
             "--rate", "100" if run.short else "200"])
        run.main_loop(chaos)
        chaos.wait()
        run.wait_downloads(90 if run.short else 120)
        run.sample("end")
        answered = ping_all([n for n in run.nodes.values() if n.running()])
        silent = sorted(i for i, n in run.nodes.items() if n.address not in answered)
        print(f"ping: {len(answered)} of {len(run.nodes)} nodes answered \"Ping-\" with \"Pong-\"")
        if silent:
            run.fail("no Pong- from nodes " + ", ".join(map(str, silent)))
        run.check_searches()
        for node in run.nodes.values():
            if node.running():
                node.proc.send_signal(signal.SIGTERM)
        for node in run.nodes.values():
            if node.recorded:
                continue
            node.stop(signalled=True)
            if node.exit_codes[-1] != 0:
                run.fail(f"node {node.index} exited with {node.exit_codes[-1]} at the end: "
                         f"{tail(node.log_path())}")
        run.check_downloads()
        run.check_memory()
        run.check_sanitizers()
    except SystemExit:
        pass
    finally:
        for process in [chaos, getattr(run, "flooder", None)] + [
                n.proc for n in getattr(run, "nodes", {}).values()]:
            if process and process.poll() is None:
                process.kill()
                process.wait()
    if run.failures:
        print(f"soak: FAILED ({len(run.failures)} failures); folder kept: {run.work}")
        return 1
    print("soak: passed")
    if not args.keep:
        shutil.rmtree(run.work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
