#!/usr/bin/env python3
"""Brindlex beside its peers: one origin and every peer on loopback, each
measurement run several times with the targets interleaved (direct first in
a rotating order), and tables of medians with the ratio to direct and to
each peer.

Targets of the HTTP rows:
  direct          the origin (nginx) fetched without a proxy
  brindlex-user   the gateway with an identified IP user (counting, limits,
                  session and connection logs on)
  brindlex-local  the gateway with the client's address in LocalHosts
                  (nothing counted)
  tinyproxy, squid
Every request carries "Connection: close" (a new connection per request on
both sides). Everything stays on 127.0.0.1; every loop is bounded.

Targets of the SOCKS5 rows: direct, both gateways on their SOCKS5 port,
microsocks and dante (danted), and bare-relay (bench/splice_relay.c), the
least a user-space relay can do, as a yardstick.

Targets of the DNS rows, in two network namespaces of their own (the
forwarder binds port 53): direct (the upstream dnsmasq), brindlex-dns (a
third gateway with its forwarder and cache on) and dnsmasq as a forwarder.

Adding a service (DNS) is one entry in PEERS (how to start a peer
and which services it offers) plus one entry in MEASUREMENTS (a function that
measures one target once and the columns it returns); the round-robin, the
medians and the tables are shared.

Run through bench/run.sh, which installs the peers and builds the gateway.
"""
import argparse
import contextlib
import os
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MB = 1024 * 1024


# --------------------------------------------------------------- processes

class World:
    """The temp folder, the origin and the peers; stops everything it started."""

    def __init__(self, args):
        self.args = args
        self.work = tempfile.mkdtemp(prefix="brindlex-bench-")
        os.chmod(self.work, 0o755)
        self.procs = {}      # name -> Popen
        self.ports = {}      # name -> port (the proxy port, or the origin's HTTP port)
        self.tls_port = None
        self.socks_ports = {}  # name -> SOCKS5 port

    def path(self, *parts):
        return os.path.join(self.work, *parts)

    def start(self, name, argv, port, env=None, log=None):
        out = open(log or self.path(name + ".out"), "wb")
        proc = subprocess.Popen(argv, stdout=out, stderr=subprocess.STDOUT, env=env,
                                start_new_session=True)
        self.procs[name] = proc
        self.ports[name] = port
        wait_port(port, proc, name)
        return proc

    def stop_all(self):
        for proc in self.procs.values():
            if proc.poll() is None:
                proc.send_signal(signal.SIGTERM)
        deadline = time.time() + 10
        for name, proc in self.procs.items():
            try:
                proc.wait(timeout=max(0.1, deadline - time.time()))
            except subprocess.TimeoutExpired:
                print(f"{name} did not stop on SIGTERM in 10 s; killed", file=sys.stderr)
                proc.kill()
                proc.wait()
        if not self.args.keep:
            shutil.rmtree(self.work, ignore_errors=True)
        else:
            print(f"work folder kept: {self.work}", file=sys.stderr)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_port(port, proc, name, seconds=20):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if proc.poll() is not None:
            raise SystemExit(f"{name} exited with {proc.returncode} before opening port {port}")
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return
        except OSError:
            time.sleep(0.05)
    raise SystemExit(f"{name}: nothing listens on port {port} after {seconds} s")


def process_tree(pid):
    """pid and all its descendants."""
    pids = [pid]
    for p in pids:
        try:
            with open(f"/proc/{p}/task/{p}/children") as f:
                pids.extend(int(c) for c in f.read().split())
        except OSError:
            pass
    return pids


def sum_over(pids, read):
    """Sum of read(pid) over processes that still exist."""
    total = 0
    for p in pids:
        try:
            total += read(p)
        except OSError:
            pass
    return total


def rss_kb(pids):
    def read(p):
        with open(f"/proc/{p}/status") as f:
            return sum(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))
    return sum_over(pids, read)


def threads(pids):
    return sum_over(pids, lambda p: len(os.listdir(f"/proc/{p}/task")))


def cpu_ticks(pids):
    def read(p):
        with open(f"/proc/{p}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
            return int(fields[11]) + int(fields[12])  # utime, stime
    return sum_over(pids, read)


# ------------------------------------------------------------------- peers

def start_origin(w, files=None):
    www = w.path("www")
    os.makedirs(www)
    files = files or {"1k.bin": 1024, "10m.bin": 10 * MB, "200m.bin": 200 * MB}
    for name, size in files.items():
        with open(os.path.join(www, name), "wb") as f:
            left = size
            while left:
                chunk = os.urandom(min(left, MB))
                f.write(chunk)
                left -= len(chunk)
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=127.0.0.1", "-keyout", w.path("key.pem"), "-out", w.path("cert.pem")],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    port, w.tls_port = free_port(), free_port()
    os.makedirs(w.path("nginx"))
    conf = w.path("nginx", "nginx.conf")
    with open(conf, "w") as f:
        # One worker per core, as a real origin runs: with one worker, direct
        # is held to one core and every multi-connection ratio flatters us.
        f.write(f"""daemon off;
worker_processes auto;
pid {w.path('nginx', 'nginx.pid')};
error_log {w.path('nginx', 'error.log')};
events {{ worker_connections 4096; }}
worker_rlimit_nofile 8192;
http {{
  access_log off;
  client_body_temp_path {w.path('nginx', 'body')};
  sendfile on;
  keepalive_requests 100000;
  server {{ listen 127.0.0.1:{port}; root {www}; }}
  server {{
    listen 127.0.0.1:{w.tls_port} ssl;
    ssl_certificate {w.path('cert.pem')};
    ssl_certificate_key {w.path('key.pem')};
    root {www};
  }}
}}
""")
    w.start("direct", ["nginx", "-p", w.path("nginx"), "-e", w.path("nginx", "error.log"), "-c", conf], port)


def start_brindlex(w, name, local, system=""):
    """`system`: further [System] lines, each ending in CR LF."""
    home = w.path(name)
    subprocess.run([os.path.join(ROOT, "scripts", "lay-out-home.sh"), home], check=True,
                   stdout=subprocess.DEVNULL)
    port = free_port()
    w.socks_ports[name] = free_port()
    # The origin is on loopback, where a destination a client chose is
    # refused unless allowed.
    # Every client is 127.0.0.1, which stands for the whole LAN here: the
    # per-address share must not cap the rows of 500 connections.
    text = (f"[System]\r\nHttpPort={port}\r\nEnableSocks5=1\r\nSocks5Port={w.socks_ports[name]}\r\n"
            f"EnableLoopbackTargets=1\r\nMaxConnectionsPerAddress=1000\r\n{system}")
    if local:
        text += "LocalHosts=127.0.0.1\r\n"
    else:
        text += subprocess.run([w.args.records], check=True, capture_output=True, text=True).stdout
    with open(os.path.join(home, "Brindlex.ini"), "w", newline="") as f:
        f.write(text)
    env = dict(os.environ, BRINDLEX_HOME=home)
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    w.start(name, [w.args.brindlex], port, env=env)


def start_tinyproxy(w, name):
    d = w.path(name)
    os.makedirs(d)
    os.chmod(d, 0o777)
    port = free_port()
    conf = os.path.join(d, "tinyproxy.conf")
    user = "User nobody\nGroup nogroup\n" if os.geteuid() == 0 else ""
    with open(conf, "w") as f:
        f.write(f"""{user}Port {port}
Listen 127.0.0.1
Timeout 600
MaxClients 2000
LogFile "{d}/tinyproxy.log"
LogLevel Error
PidFile "{d}/tinyproxy.pid"
DisableViaHeader Yes
Allow 127.0.0.1
""")
    w.start(name, ["tinyproxy", "-d", "-c", conf], port)


def start_squid(w, name):
    d = w.path(name)
    os.makedirs(d)
    os.chmod(d, 0o777)
    port = free_port()
    conf = os.path.join(d, "squid.conf")
    user = "cache_effective_user proxy\n" if os.geteuid() == 0 else ""
    with open(conf, "w") as f:
        f.write(f"""{user}http_port 127.0.0.1:{port}
http_access allow all
cache deny all
cache_mem 8 MB
access_log none
cache_store_log none
cache_log {d}/cache.log
pid_filename {d}/squid.pid
coredump_dir {d}
visible_hostname bench
max_filedescriptors 8192
workers 1
via off
forwarded_for delete
shutdown_lifetime 1 seconds
logfile_rotate 0
""")
    w.start(name, ["squid", "-N", "-f", conf], port)


def start_microsocks(w, name):
    port = free_port()
    w.socks_ports[name] = port
    w.start(name, ["microsocks", "-i", "127.0.0.1", "-p", str(port)], port)


def start_bare_relay(w, name):
    """The yardstick of the SOCKS5 rows: bench/splice_relay.c, the least a
    user-space relay does (blocking splice, a thread per direction)."""
    port = free_port()
    w.socks_ports[name] = port
    w.start(name, [w.args.splice_relay, str(port)], port)


def start_dante(w, name):
    d = w.path(name)
    os.makedirs(d)
    os.chmod(d, 0o777)
    port = free_port()
    w.socks_ports[name] = port
    conf = os.path.join(d, "danted.conf")
    user = "user.privileged: root\nuser.unprivileged: nobody\n" if os.geteuid() == 0 else ""
    with open(conf, "w") as f:
        f.write(f"""{user}logoutput: {d}/danted.log
internal: 127.0.0.1 port = {port}
external: 127.0.0.1
clientmethod: none
socksmethod: none
client pass {{ from: 127.0.0.0/8 to: 0.0.0.0/0 }}
socks pass {{ from: 127.0.0.0/8 to: 0.0.0.0/0 command: connect }}
""")
    w.start(name, ["danted", "-f", conf, "-p", os.path.join(d, "danted.pid")], port)


# ---------------------------------------------------------------------- DNS

# The forwarder binds port 53 on every address, so the DNS rows run in two
# network namespaces of their own, joined by a veth pair: the gateway, the
# dnsmasq forwarder (port 5300) and dnsperf in one (10.53.0.1), the upstream
# in the other (10.53.0.2): dnsmasq answering every name under bench.test
# with one address and TTL 300. "direct" in these rows is that upstream.
DNS_UPSTREAM = "10.53.0.2"
DNS_ZONE = "bench.test"


def netns_holder(w, name):
    """A process that holds a new network namespace open; its pid names it."""
    proc = subprocess.Popen(["unshare", "--net", "sleep", "infinity"], start_new_session=True)
    w.procs[name] = proc
    own = os.readlink("/proc/self/ns/net")
    deadline = time.time() + 5
    while os.readlink(f"/proc/{proc.pid}/ns/net") == own:
        if time.time() > deadline:
            raise SystemExit(f"{name}: no network namespace after 5 s")
        time.sleep(0.01)
    return proc.pid


def in_netns(pid, argv):
    return ["nsenter", f"--net=/proc/{pid}/ns/net"] + argv


def start_dns_world(w):
    if getattr(w, "dns_ns", None):
        return
    gateway_ns = netns_holder(w, "dns-namespace")
    upstream_ns = netns_holder(w, "dns-upstream-namespace")
    for pid, commands in (
            (gateway_ns, [["ip", "link", "set", "lo", "up"],
                          ["ip", "link", "add", "d0", "type", "veth", "peer", "name", "d1", "netns", str(upstream_ns)],
                          ["ip", "addr", "add", "10.53.0.1/24", "dev", "d0"], ["ip", "link", "set", "d0", "up"]]),
            (upstream_ns, [["ip", "link", "set", "lo", "up"],
                           ["ip", "addr", "add", DNS_UPSTREAM + "/24", "dev", "d1"], ["ip", "link", "set", "d1", "up"]])):
        for command in commands:
            subprocess.run(in_netns(pid, command), check=True)
    w.dns_ns = gateway_ns
    w.dns_servers = {}
    start_dnsmasq_process(w, "direct-dns", upstream_ns, DNS_UPSTREAM, 53,
                          [f"--address=/{DNS_ZONE}/192.0.2.1", "--local-ttl=300"])
    w.dns_servers["direct"] = (DNS_UPSTREAM, 53)


def start_dnsmasq_process(w, name, ns, address, port, options):
    argv = ["dnsmasq", "--keep-in-foreground", "--conf-file=/dev/null", "--no-resolv", "--no-hosts",
            "--user=root", "--pid-file=", f"--listen-address={address}", "--bind-interfaces", f"--port={port}"]
    out = open(w.path(name + ".out"), "wb")
    w.procs[name] = subprocess.Popen(in_netns(ns, argv + options), stdout=out, stderr=subprocess.STDOUT,
                                     start_new_session=True)
    wait_dns(w, address, port, name)


def wait_dns(w, address, port, name, seconds=20):
    """Until the server answers a query for the zone."""
    deadline = time.time() + seconds
    while time.time() < deadline:
        probe = subprocess.run(in_netns(w.dns_ns, ["dig", "+tries=1", "+time=1", "+short", f"@{address}",
                                                   "-p", str(port), f"probe.{DNS_ZONE}"]),
                               capture_output=True, text=True)
        if probe.stdout.strip():
            return
        time.sleep(0.1)
    raise SystemExit(f"{name}: no answer from {address} port {port} after {seconds} s")


def start_brindlex_dns(w, name):
    start_dns_world(w)
    home = w.path(name)
    subprocess.run([os.path.join(ROOT, "scripts", "lay-out-home.sh"), home], check=True,
                   stdout=subprocess.DEVNULL)
    with open(os.path.join(home, "Brindlex.ini"), "w", newline="") as f:
        f.write(f"[System]\r\nHttpPort={free_port()}\r\nEnableDns=1\r\nDnsServer={DNS_UPSTREAM}\r\n"
                "EnableCachDns=1\r\n")
    env = dict(os.environ, BRINDLEX_HOME=home)
    if w.args.dns_monitor_off:
        env["BRINDLEX_MONITOR_OFF"] = "dns"
    out = open(w.path(name + ".out"), "wb")
    # Headless, the monitor's lines (unless the DNS switch is off) go to this file.
    w.procs[name] = subprocess.Popen(in_netns(w.dns_ns, [w.args.brindlex]), stdout=out, stderr=subprocess.STDOUT,
                                     env=env, start_new_session=True)
    wait_dns(w, "127.0.0.1", 53, name)
    w.dns_servers[name] = ("127.0.0.1", 53)


def start_dnsmasq(w, name):
    start_dns_world(w)
    start_dnsmasq_process(w, name, w.dns_ns, "127.0.0.1", 5300, [f"--server={DNS_UPSTREAM}", "--cache-size=10000"])
    w.dns_servers[name] = ("127.0.0.1", 5300)


# Every peer: (name, start function, services it offers).
PEERS = [
    ("brindlex-user", lambda w, n: start_brindlex(w, n, local=False), {"http", "connect", "socks5"}),
    ("brindlex-local", lambda w, n: start_brindlex(w, n, local=True), {"http", "connect", "socks5"}),
    ("tinyproxy", start_tinyproxy, {"http", "connect"}),
    ("squid", start_squid, {"http", "connect"}),
    ("microsocks", start_microsocks, {"socks5"}),
    ("dante", start_dante, {"socks5"}),
    ("bare-relay", start_bare_relay, {"socks5"}),
    ("brindlex-dns", start_brindlex_dns, {"dns"}),
    ("dnsmasq", start_dnsmasq, {"dns"}),
]


# ------------------------------------------------------------ measurements

def parse_duration_ms(text):
    m = re.fullmatch(r"([\d.]+)(us|ms|s|m)", text)
    value, unit = float(m.group(1)), m.group(2)
    return value * {"us": 0.001, "ms": 1.0, "s": 1000.0, "m": 60000.0}[unit]


def wrk(w, target, obj, connections):
    """One wrk run of `seconds` against a target; one connection per request."""
    origin = w.ports["direct"]
    port = w.ports[target]
    script = w.path(f"wrk-{target}-{obj}.lua")
    with open(script, "w") as f:
        if target != "direct":  # absolute form, as a browser talks to a proxy
            f.write(f'wrk.path = "http://127.0.0.1:{origin}/{obj}"\n')
        f.write(f'wrk.headers["Host"] = "127.0.0.1:{origin}"\n')
        f.write('wrk.headers["Connection"] = "close"\n')
    pids = process_tree(w.procs[target].pid)
    ticks = cpu_ticks(pids)
    # One wrk thread is a ceiling of its own once there is more than one
    # connection: it would cap direct and proxied alike and flatter the ratio.
    threads = 1 if connections == 1 else 2
    out = subprocess.run(["wrk", f"-t{threads}", f"-c{connections}", f"-d{w.args.seconds}s", "--timeout", "10s",
                          "--latency", "-s", script, f"http://127.0.0.1:{port}/{obj}"],
                         capture_output=True, text=True, timeout=w.args.seconds + 60).stdout
    rps = float(re.search(r"^Requests/sec:\s+([\d.]+)", out, re.M).group(1))
    p50 = re.search(r"^\s+50%\s+(\S+)", out, re.M)
    p99 = re.search(r"^\s+99%\s+(\S+)", out, re.M)
    errors = 0
    m = re.search(r"Socket errors: connect (\d+), read (\d+), write (\d+), timeout (\d+)", out)
    if m:
        # a read error is how wrk counts a close right after a complete
        # "Connection: close" response on some peers; connect/timeout are real
        errors += int(m.group(1)) + int(m.group(4))
    m = re.search(r"Non-2xx or 3xx responses: (\d+)", out)
    if m:
        errors += int(m.group(1))
    requests = int(re.search(r"(\d+) requests in", out).group(1))
    cpu_us = (cpu_ticks(pids) - ticks) / os.sysconf("SC_CLK_TCK") / max(requests, 1) * 1e6
    return {"rps": rps, "cpu": cpu_us, "p50": parse_duration_ms(p50.group(1)) if p50 else float("nan"),
            "p99": parse_duration_ms(p99.group(1)) if p99 else float("nan"), "errors": errors}


def small_get(connections):
    def run(w, target):
        return wrk(w, target, "1k.bin", connections)
    return run


def big_get(connections):
    def run(w, target):
        r = wrk(w, target, "10m.bin", connections)
        r["MB/s"] = r.pop("rps") * 10
        return r
    return run


CONNECT_REPEATS = 5


def connect_download(w, target):
    """200 MB over HTTPS with curl; through the proxy's CONNECT tunnel. One
    download takes a fraction of a second and single ones scatter by +-30 %,
    so each round fetches it CONNECT_REPEATS times and reports the total."""
    argv = ["curl", "-sS", "-k", "-o", "/dev/null", "-w", "%{time_total} %{http_code} %{size_download}",
            "--max-time", "120"]
    if target != "direct":
        argv += ["-x", f"http://127.0.0.1:{w.ports[target]}", "--proxytunnel"]
    argv.append(f"https://127.0.0.1:{w.tls_port}/200m.bin")
    return repeated_200m(argv)


def repeated_200m(argv):
    """Runs a curl fetch of the 200 MB file CONNECT_REPEATS times; the rate
    over all of them and how many went wrong."""
    seconds, errors = 0.0, 0
    for _ in range(CONNECT_REPEATS):
        out = subprocess.run(argv, capture_output=True, text=True, timeout=180)
        took, code, size = (out.stdout.split() + ["0", "0", "0"])[:3]
        if code != "200" or int(float(size)) != 200 * MB:
            errors += 1
        seconds += float(took)
    return {"MB/s": CONNECT_REPEATS * 200 / seconds if seconds > 0 else 0.0, "errors": errors}


def socks_download(w, target):
    """200 MB over plain HTTP with curl, through the SOCKS5 port (the
    gateway's pipe relay carries it as it carries a CONNECT tunnel); repeated
    as connect_download is."""
    argv = ["curl", "-sS", "-o", "/dev/null", "-w", "%{time_total} %{http_code} %{size_download}",
            "--max-time", "120"]
    if target != "direct":
        argv += ["--socks5", f"127.0.0.1:{w.socks_ports[target]}"]
    argv.append(f"http://127.0.0.1:{w.ports['direct']}/200m.bin")
    return repeated_200m(argv)


def socks_fetch(origin, socks_port):
    """One 1 KB GET on a connection of its own, through SOCKS5 (CONNECT by
    address, no authentication) unless socks_port is None; True when the
    whole object came."""
    with socket.create_connection(("127.0.0.1", socks_port or origin), timeout=10) as s:
        if socks_port:
            s.sendall(b"\x05\x01\x00")
            if s.recv(2) != b"\x05\x00":
                return False
            s.sendall(b"\x05\x01\x00\x01" + socket.inet_aton("127.0.0.1") + origin.to_bytes(2, "big"))
            reply = b""
            while len(reply) < 10:
                piece = s.recv(10 - len(reply))
                if not piece:
                    return False
                reply += piece
            if reply[1] != 0:
                return False
        s.sendall(f"GET /1k.bin HTTP/1.1\r\nHost: 127.0.0.1:{origin}\r\nConnection: close\r\n\r\n".encode())
        answer = b""
        while True:
            piece = s.recv(65536)
            if not piece:
                break
            answer += piece
    head, _, body = answer.partition(b"\r\n\r\n")
    return head.startswith(b"HTTP/1.1 200") and len(body) == 1024


def socks_small(clients):
    """1 KB fetches, `clients` at a time for `seconds`: requests per second."""
    def run(w, target):
        origin = w.ports["direct"]
        port = None if target == "direct" else w.socks_ports[target]
        deadline = time.monotonic() + w.args.seconds
        done, errors = [0] * clients, [0] * clients

        def client(i):
            while time.monotonic() < deadline:
                try:
                    ok = socks_fetch(origin, port)
                except OSError:
                    ok = False
                done[i] += ok
                errors[i] += not ok

        workers = [threading.Thread(target=client, args=(i,)) for i in range(clients)]
        for t in workers:
            t.start()
        for t in workers:
            t.join()
        return {"rps": sum(done) / w.args.seconds, "errors": sum(errors)}
    return run


IDLE = 500


def dnsperf_queries(hits):
    """dnsperf for `seconds`, 50 queries outstanding: one name over and over
    (answered from the cache after the first), or a new name every time
    (each one forwarded upstream)."""
    counter = iter(range(1, 1 << 30))

    def run(w, target):
        address, port = w.dns_servers[target]
        data = w.path("queries.txt")
        with open(data, "w") as f:
            if hits:
                f.write(f"www.{DNS_ZONE} A\n")
            else:
                run_id = next(counter)
                f.writelines(f"m{run_id}-{i}.{target}.{DNS_ZONE} A\n" for i in range(w.args.seconds * 100000))
        argv = ["dnsperf", "-s", address, "-p", str(port), "-d", data, "-l", str(w.args.seconds), "-q", "50",
                "-t", "2"] + ([] if hits else ["-n", "1"])
        out = subprocess.run(in_netns(w.dns_ns, argv), capture_output=True, text=True).stdout
        qps = re.search(r"Queries per second:\s+([\d.]+)", out)
        lost = re.search(r"Queries lost:\s+(\d+)", out)
        latency = re.search(r"Average Latency \(s\):\s+([\d.]+)", out)
        if not qps:
            print(f"dnsperf against {target} said:\n{out}", file=sys.stderr)
        return {"qps": float(qps.group(1)) if qps else float("nan"),
                "avg": float(latency.group(1)) * 1000 if latency else float("nan"),
                "errors": int(lost.group(1)) if lost else 1}
    return run


def thread_run_ns(pids):
    """Nanoseconds each thread of the processes has run (schedstat), by thread id."""
    times = {}
    for p in pids:
        try:
            tids = os.listdir(f"/proc/{p}/task")
        except OSError:
            continue
        for tid in tids:
            try:
                with open(f"/proc/{p}/task/{tid}/schedstat") as f:
                    times[(p, tid)] = int(f.read().split()[0])
            except OSError:
                pass
    return times


def idle_cpu(pids, seconds):
    """Percent of one core the processes used over `seconds`, from the threads'
    run times in nanoseconds: an idle process uses far less than the 10 ms
    clock ticks of /proc/PID/stat can show."""
    ns0, t0 = thread_run_ns(pids), time.time()
    time.sleep(seconds)
    ns1, t1 = thread_run_ns(pids), time.time()
    used = sum(ns1[k] - ns0[k] for k in ns1 if k in ns0)
    return 100.0 * used / 1e9 / (t1 - t0)


def open_tunnel(w, target):
    """A client connection that asked for a CONNECT tunnel to the origin's TLS
    port and got its 200 (for direct: a plain connection to that port)."""
    port = w.tls_port if target == "direct" else w.ports[target]
    s = socket.create_connection(("127.0.0.1", port), timeout=10)
    if target != "direct":
        s.sendall(f"CONNECT 127.0.0.1:{w.tls_port} HTTP/1.1\r\nHost: 127.0.0.1:{w.tls_port}\r\n\r\n".encode())
        head = b""
        while b"\r\n\r\n" not in head:
            piece = s.recv(4096)
            if not piece:
                raise OSError("tunnel refused")
            head += piece
        if b" 200" not in head.split(b"\r\n", 1)[0]:
            raise OSError("tunnel refused: " + head.split(b"\r\n", 1)[0].decode(errors="replace"))
    return s


def count_closed(socks):
    closed = 0
    for s in socks:
        s.setblocking(False)
        try:
            if s.recv(1, socket.MSG_PEEK) == b"":
                closed += 1
        except BlockingIOError:
            pass
        except OSError:
            closed += 1
    return closed


def idle_connections(w, target):
    """CPU with no connection at all; then RSS added per idle client connection,
    threads and CPU while IDLE idle connections (connected, nothing sent) are
    held; then CPU while IDLE idle tunnels (CONNECT answered, no traffic) are."""
    pids = process_tree(w.procs[target].pid)
    time.sleep(1)
    cpu_none = idle_cpu(pids, w.args.idle_seconds)
    before_rss, before_threads = rss_kb(pids), threads(pids)
    socks = []
    try:
        for _ in range(IDLE):
            socks.append(socket.create_connection(("127.0.0.1", w.ports[target]), timeout=5))
        time.sleep(2)
        pids = process_tree(w.procs[target].pid)
        cpu_held = idle_cpu(pids, w.args.idle_seconds)
        after_rss, after_threads = rss_kb(pids), threads(pids)
        closed = count_closed(socks)
    finally:
        for s in socks:
            s.close()
    time.sleep(2)
    tunnels, errors = [], 0
    try:
        for _ in range(IDLE):
            try:
                tunnels.append(open_tunnel(w, target))
            except OSError:
                errors += 1
        time.sleep(2)
        pids = process_tree(w.procs[target].pid)
        cpu_tunnels = idle_cpu(pids, w.args.idle_seconds)
        closed_tunnels = count_closed(tunnels)
    finally:
        for s in tunnels:
            s.close()
    time.sleep(2)
    return {"KB/conn": (after_rss - before_rss) / IDLE,
            "CPU none": cpu_none, "CPU %": cpu_held, "CPU tunnels": cpu_tunnels,
            "threads": after_threads - before_threads,
            "closed": closed + closed_tunnels, "errors": errors}


# (title, service, function, columns to show, column the ratios use, higher is better)
MEASUREMENTS = [
    ("1 KB GET, 1 client", "http", small_get(1), ["rps", "p50", "p99", "cpu"], "rps"),
    ("1 KB GET, 50 clients", "http", small_get(50), ["rps", "p50", "p99", "cpu"], "rps"),
    ("10 MB GET, 1 connection", "http", big_get(1), ["MB/s", "p50", "p99"], "MB/s"),
    ("10 MB GET, 8 connections", "http", big_get(8), ["MB/s", "p50", "p99"], "MB/s"),
    ("CONNECT: 200 MB over HTTPS", "connect", connect_download, ["MB/s"], "MB/s"),
    ("SOCKS5: 200 MB over HTTP", "socks5", socks_download, ["MB/s"], "MB/s"),
    ("SOCKS5: 1 KB GET, 1 client", "socks5", socks_small(1), ["rps"], "rps"),
    ("SOCKS5: 1 KB GET, 8 clients", "socks5", socks_small(8), ["rps"], "rps"),
    ("DNS: cache hits", "dns", dnsperf_queries(True), ["qps", "avg"], "qps"),
    ("DNS: cache misses", "dns", dnsperf_queries(False), ["qps", "avg"], "qps"),
]

UNITS = {"rps": "req/s", "p50": "p50 ms", "p99": "p99 ms", "cpu": "CPU us/req", "qps": "queries/s",
         "avg": "avg ms"}


@contextlib.contextmanager
def profiled(w, target, number, round_):
    """perf record with call graphs around one run of a gateway target (the
    first round only), into --perf/<measurement>-<target>.data."""
    if not w.args.perf or round_ != 0 or not target.startswith("brindlex"):
        yield
        return
    os.makedirs(w.args.perf, exist_ok=True)
    out = os.path.join(w.args.perf, f"{number}-{target}.data")
    perf = subprocess.Popen(["perf", "record", "-e", "cpu-clock", "-F", "999", "-g", "-o", out,
                             "-p", str(w.procs[target].pid)],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(0.5)  # perf attaches before the load starts
    try:
        yield
    finally:
        perf.send_signal(signal.SIGINT)
        perf.wait(timeout=60)


def fmt(value):
    if value != value:  # nan
        return "-"
    if abs(value) >= 100:
        return f"{value:,.0f}".replace(",", " ")
    if abs(value) >= 10:
        return f"{value:.1f}"
    return f"{value:.2f}"


def table(title, rows, columns, ratio_key, peers, rounds):
    print(f"\n### {title} (median of {rounds})\n")
    head = ["target"] + [UNITS.get(c, c) for c in columns] + ["/direct"] + [f"/{p}" for p in peers] + ["errors"]
    print("| " + " | ".join(head) + " |")
    print("|" + "|".join(["---"] + ["---:"] * (len(head) - 1)) + "|")
    medians = {t: {c: statistics.median([r[c] for r in runs]) for c in columns} for t, runs in rows.items()}
    for target, runs in rows.items():
        m = medians[target]
        cells = [target] + [fmt(m[c]) for c in columns]
        base = medians.get("direct", {}).get(ratio_key)
        cells.append(f"{m[ratio_key] / base:.2f}" if base else "-")
        for p in peers:
            other = medians.get(p, {}).get(ratio_key)
            cells.append(f"{m[ratio_key] / other:.2f}" if other else "-")
        cells.append(str(sum(r["errors"] for r in runs)))
        print("| " + " | ".join(cells) + " |")
    return medians


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--brindlex", required=True)
    ap.add_argument("--records", required=True, help="the program printing the user sections")
    ap.add_argument("--splice-relay", required=True, help="bench/splice_relay.c built: the SOCKS5 rows' yardstick")
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--seconds", type=int, default=5, help="seconds per wrk run")
    ap.add_argument("--idle-seconds", type=int, default=10)
    ap.add_argument("--only", default="", help="comma-separated measurement numbers (1-based); idle is 'idle'")
    ap.add_argument("--keep", action="store_true", help="keep the work folder")
    ap.add_argument("--perf", default="",
                    help="folder for a perf profile (call graphs) of each gateway target's first round of "
                         "each measurement")
    ap.add_argument("--dns-monitor-off", action="store_true",
                    help="the DNS rows with the gateway's DNS monitor switch off (no line per query)")
    args = ap.parse_args()

    w = World(args)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    try:
        start_origin(w)
        for name, start, _ in PEERS:
            start(w, name)
        peers = [n for n, _, s in PEERS if not n.startswith("brindlex")]
        only = set(filter(None, args.only.split(",")))
        print(f"# Brindlex beside its peers: {args.rounds} rounds, {args.seconds} s per wrk run, "
              f"{os.cpu_count()} cores, {time.strftime('%Y-%m-%d %H:%M')}")
        if not only or "idle" in only:
            # First, while every process is fresh: RSS a process already grew
            # for earlier connections would hide what idle connections cost.
            targets = ["direct"] + [n for n, _, s in PEERS if "http" in s]
            rows = {t: [] for t in targets}
            for r in range(args.rounds):
                for t in targets:
                    rows[t].append(idle_connections(w, t))
            print(f"\n### Idle: no connection, {IDLE} idle client connections, {IDLE} idle tunnels; "
                  f"each watched {args.idle_seconds} s\n")
            print("RSS: added by the first round on a fresh process (later rounds reuse what it kept); "
                  f"CPU and the rest: median of {args.rounds} rounds. For direct, a tunnel is a plain "
                  "connection to the origin's TLS port.\n")
            print("| target | CPU % no connection | RSS KB per connection | CPU % 500 idle connections | "
                  "CPU % 500 idle tunnels | threads added | closed by server | tunnels refused |")
            print("|---|---:|---:|---:|---:|---:|---:|---:|")
            for t, runs in rows.items():
                med = {c: statistics.median([x[c] for x in runs])
                       for c in ("CPU none", "CPU %", "CPU tunnels", "threads", "closed", "errors")}
                print(f"| {t} | {med['CPU none']:.3f} | {runs[0]['KB/conn']:.1f} | {med['CPU %']:.3f} | "
                      f"{med['CPU tunnels']:.3f} | {med['threads']:.0f} | {med['closed']:.0f} | "
                      f"{med['errors']:.0f} |")
        summary = {}
        for number, (title, service, run, columns, key) in enumerate(MEASUREMENTS, 1):
            if only and str(number) not in only:
                continue
            targets = ["direct"] + [n for n, _, s in PEERS if service in s]
            rows = {t: [] for t in targets}
            for r in range(args.rounds):
                order = targets[r % len(targets):] + targets[:r % len(targets)]
                for t in order:
                    with profiled(w, t, number, r):
                        rows[t].append(run(w, t))
            summary[title] = (table(title, rows, columns, key, [p for p in peers if p in rows], args.rounds), key)
        print("\n### Cost of accounting (brindlex-user against brindlex-local)\n")
        print("| measurement | user/local |")
        print("|---|---:|")
        for title, (medians, key) in summary.items():
            if "brindlex-user" in medians and "brindlex-local" in medians:
                print(f"| {title} | {medians['brindlex-user'][key] / medians['brindlex-local'][key]:.2f} |")
        for name, proc in w.procs.items():
            if proc.poll() is not None:
                print(f"\nWARNING: {name} exited during the run with {proc.returncode}")
    finally:
        w.stop_all()


if __name__ == "__main__":
    main()
