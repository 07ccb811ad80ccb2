#!/usr/bin/env python3
"""An attacker on the LAN tries to exhaust the gateway (run through bench/exhaust.sh).

Everything runs inside a network namespace of its own (bench/exhaust.sh): the
gateway, an HTTP origin on 127.0.0.1, an attacker at 127.0.0.2 and a
legitimate client at 127.0.0.1. Both addresses are identified IP users. The
upstream DNS server is an address on a veth pair of the namespace that nobody
has, so every forwarded query waits for its time-out.

The legitimate client asks once a second for one page through the HTTP
proxy and one name from the hosts file through the DNS forwarder.

Phases:
  0. warm-up: a short attack (--warm-up seconds) and a settle as in 3: what
     any busy hour brings up once (the allocator's per-thread arenas) is
     there before the baseline is taken.
  1. baseline: the legitimate client alone; the gateway's threads,
     descriptors and RSS are the baseline.
  2. attack (DURATION seconds): the attacker opens SOCKS5 connections with a
     BIND as fast as it can and holds them, and floods the DNS port with
     queries for names that must be forwarded, while the legitimate client
     goes on. Every legitimate request must be answered, none later than a
     second.
  3. settle: the attacker lets go; the legitimate client goes on for 5 s,
     then the gateway is left alone for --settle seconds: threads and
     descriptors must come back to the baseline, RSS within 5 % of it.
Prints the figures; exits 1 when a check fails.
"""
import argparse
import http.server
import os
import random
import socket
import socketserver
import struct
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LEGIT = "127.0.0.1"
ATTACKER = "127.0.0.2"
UPSTREAM = "10.99.0.2"  # on the namespace's veth net, but nobody's: nobody answers
PAGE = b"x" * 1024
HOSTS_NAME = "office.lan"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Origin(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


class Page(http.server.BaseHTTPRequestHandler):
    def do_GET(self):  # noqa: N802
        self.send_response(200)
        self.send_header("Content-Length", str(len(PAGE)))
        self.end_headers()
        self.wfile.write(PAGE)

    def log_message(self, *args):
        pass


def dns_query(name, ident):
    header = struct.pack(">HHHHHH", ident, 0x0100, 1, 0, 0, 0)
    labels = b"".join(bytes([len(p)]) + p.encode() for p in name.split(".")) + b"\0"
    return header + labels + struct.pack(">HH", 1, 1)


def figures(pid):
    with open(f"/proc/{pid}/status") as f:
        rss = sum(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))
    return {"threads": len(os.listdir(f"/proc/{pid}/task")), "fds": len(os.listdir(f"/proc/{pid}/fd")), "rss": rss}


class Run:
    def __init__(self, args):
        self.args = args
        self.home = tempfile.mkdtemp(prefix="brindlex-exhaust-")
        self.http_port = free_port()
        self.socks_port = free_port()
        self.failures = []
        self.latencies = {"page": [], "dns": []}
        self.stop = threading.Event()
        self.legit_on = threading.Event()
        self.legit_on.set()
        self.attack_stop = threading.Event()
        self.held = []
        self.bind_opened = 0
        self.bind_refused = 0
        self.queries_sent = 0

    def start(self):
        subprocess.run([os.path.join(ROOT, "scripts", "lay-out-home.sh"), self.home], check=True,
                       stdout=subprocess.DEVNULL)
        with open(os.path.join(self.home, "hosts"), "w") as f:
            f.write(f"10.99.0.5 {HOSTS_NAME}\n")
        with open(os.path.join(self.home, "Brindlex.ini"), "w", newline="") as f:
            f.write(f"[System]\r\nHttpPort={self.http_port}\r\nEnableSocks5=1\r\nSocks5Port={self.socks_port}\r\n"
                    f"EnableDns=1\r\nDnsServer={UPSTREAM}\r\nEnableHostsDns=1\r\nHostsFileName={self.home}/hosts\r\n"
                    "EnableLoopbackTargets=1\r\n")
        env = dict(os.environ, BRINDLEX_HOME=self.home, BRINDLEX_MONITOR_OFF="dns")
        for address in (LEGIT, ATTACKER):
            subprocess.run([self.args.brindlex, "user", "add", address, "--ip", "--name", "Desk"], check=True,
                           env=env, stdout=subprocess.DEVNULL)
        self.origin = Origin(("127.0.0.1", 0), Page)
        threading.Thread(target=self.origin.serve_forever, daemon=True).start()
        self.out = open(os.path.join(self.home, "gateway.out"), "wb")
        self.proc = subprocess.Popen([self.args.brindlex], env=env, stdout=self.out, stderr=subprocess.STDOUT)
        deadline = time.time() + 20
        while time.time() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.socks_port), 1).close()
                return
            except OSError:
                time.sleep(0.1)
        sys.exit("the gateway did not open its ports")

    # The legitimate client.
    def fetch_page(self):
        start = time.monotonic()
        with socket.create_connection((LEGIT, self.http_port), 2) as s:
            s.settimeout(2)
            port = self.origin.server_address[1]
            s.sendall(f"GET http://127.0.0.1:{port}/p HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n"
                      "Connection: close\r\n\r\n".encode())
            data = b""
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    break
                data += chunk
        if not data.startswith(b"HTTP/1.") or not data.endswith(PAGE):
            raise RuntimeError(f"page answer {data[:60]!r}")
        return time.monotonic() - start

    def resolve(self):
        start = time.monotonic()
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.bind((LEGIT, 0))
            s.settimeout(2)
            ident = random.randrange(65536)
            s.sendto(dns_query(HOSTS_NAME, ident), (LEGIT, 53))
            while True:
                data = s.recv(4096)
                if struct.unpack(">H", data[:2])[0] == ident:
                    break
        if data[3] & 0x0F != 0 or struct.unpack(">H", data[6:8])[0] < 1:
            raise RuntimeError(f"dns answer {data[:12]!r}")
        return time.monotonic() - start

    def legitimate(self, phase):
        while not self.stop.is_set():
            second = time.monotonic()
            if self.legit_on.is_set():
                for kind, ask in (("page", self.fetch_page), ("dns", self.resolve)):
                    try:
                        took = ask()
                        self.latencies[kind].append((phase(), took))
                        if took > 1.0:
                            self.failures.append(f"{phase()}: {kind} took {took:.2f} s")
                    except Exception as e:  # noqa: BLE001
                        self.failures.append(f"{phase()}: {kind} failed: {e!r}")
            self.stop.wait(max(0.0, 1.0 - (time.monotonic() - second)))

    # The attacker.
    def binder(self):
        request = bytes([5, 2, 0, 3, len("brindlex")]) + b"brindlex" + bytes([0, 80])
        while not self.attack_stop.is_set():
            s = socket.socket()
            s.settimeout(2)
            try:
                s.bind((ATTACKER, 0))
                s.connect((LEGIT, self.socks_port))
                s.sendall(bytes([5, 1, 0]) + request)
                answer = s.recv(12)
                if len(answer) >= 4 and answer[1] == 0:
                    self.bind_opened += 1
                    self.held.append(s)
                    continue
                self.bind_refused += 1
            except OSError:
                self.bind_refused += 1
            s.close()

    def flooder(self):
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.bind((ATTACKER, 0))
            s.setblocking(False)
            while not self.attack_stop.is_set():
                name = f"n{random.randrange(10 ** 9)}.example"
                try:
                    s.sendto(dns_query(name, random.randrange(65536)), (LEGIT, 53))
                    self.queries_sent += 1
                except BlockingIOError:
                    time.sleep(0.001)
                if self.queries_sent % 200 == 0:
                    time.sleep(0.01)  # a few thousand a second: the forwarder's table stays full

    def attack(self, seconds, peak):
        """The attacker at full speed for `seconds`; then it lets go."""
        self.attack_stop.clear()
        attackers = [threading.Thread(target=self.binder) for _ in range(4)] + [threading.Thread(target=self.flooder)]
        for t in attackers:
            t.start()
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            time.sleep(1)
            f = figures(self.proc.pid)
            for k in f:
                peak[k] = max(peak[k], f[k])
        self.attack_stop.set()
        for t in attackers:
            t.join()
        for s in self.held:
            s.close()
        self.held = []

    def settle(self, current):
        """The legitimate client goes on for 5 s, then the gateway is left
        alone (it gives back kept stacks and free heap when it falls idle)
        and measured."""
        current[0] = "after"
        time.sleep(5)
        self.legit_on.clear()
        time.sleep(self.args.settle)
        measured = figures(self.proc.pid)
        self.legit_on.set()
        return measured

    def main(self):
        self.start()
        current = ["warm-up"]
        legit = threading.Thread(target=self.legitimate, args=(lambda: current[0],))
        legit.start()
        # A first short attack brings up what any busy hour does once (the
        # allocator's per-thread arenas): the baseline is the gateway after it.
        cold = figures(self.proc.pid)
        warm_peak = dict(cold)
        self.attack(self.args.warm_up, warm_peak)
        base = self.settle(current)
        current[0] = "baseline"
        time.sleep(self.args.baseline)
        current[0] = "attack"
        peak = dict(base)
        self.attack(self.args.duration, peak)
        after = self.settle(current)
        self.stop.set()
        legit.join()
        self.proc.terminate()
        self.proc.wait(30)

        print(f"cold start: {cold}")
        print(f"baseline, after a {self.args.warm_up:.0f} s warm-up attack: {base}")
        print(f"peak during the attack: {peak}")
        print(f"{self.args.settle:.0f} s after the last request: {after}")
        print(f"attacker: {self.bind_opened} BINDs held, {self.bind_refused} refused or closed, "
              f"{self.queries_sent} DNS queries sent")
        for kind, values in self.latencies.items():
            during = sorted(t for p, t in values if p == "attack")
            if during:
                print(f"{kind} during the attack: {len(during)} answered, median {during[len(during) // 2] * 1000:.1f} ms,"
                      f" max {during[-1] * 1000:.1f} ms")
        if after["threads"] > base["threads"] + 2:
            self.failures.append(f"threads {after['threads']} against {base['threads']} before")
        if after["fds"] > base["fds"] + 2:
            self.failures.append(f"descriptors {after['fds']} against {base['fds']} before")
        if after["rss"] > base["rss"] * 1.05:
            self.failures.append(f"RSS {after['rss']} KB against {base['rss']} KB before")
        for failure in self.failures[:20]:
            print("FAIL:", failure)
        print("ok" if not self.failures else f"{len(self.failures)} failures")
        return 1 if self.failures else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--brindlex", required=True)
    parser.add_argument("--duration", type=float, default=60)
    parser.add_argument("--baseline", type=float, default=5)
    parser.add_argument("--settle", type=float, default=40)
    parser.add_argument("--warm-up", type=float, default=5)
    sys.exit(Run(parser.parse_args()).main())


if __name__ == "__main__":
    main()
