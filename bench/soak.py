#!/usr/bin/env python3
"""Load and soak of the HTTP proxy (run through bench/soak.sh).

Phases, all on 127.0.0.1 against one gateway with an identified IP user
(counting, limits and logs on) and an nginx origin:
  1. baseline: normal traffic alone (50 requests per second of 1 KB GETs, a
     new connection each) for a while; the gateway's threads, descriptors and
     RSS are the baseline.
  2. hold: 500 connections for DURATION seconds, half slow request heads (one
     header byte every few seconds, never finished; a head the gateway closes
     is opened again), half downloads of a 4 MB object read at about 80 KB/s
     (started again when done), while normal traffic keeps running.
  3. burst: everything of phase 2 is closed, then 600 connections open at
     once, stay silent 2 s (500 take every record; 100 wait in the backlog)
     and each sends one 1 KB GET: all 600 must be served.
  4. settle: everything closed; threads and descriptors must come back to the
     baseline, and RSS 60 s after the close must be within 5 % of it.
Finally every completed request (each carries a unique query) must have its
line in the connection log. Prints the figures; exits 1 when a check fails.

With --scenario deadline the gateway runs with a short HeadTimeout instead
(--head-timeout, 10 s) and the phases are:
  1. baseline: one legitimate 1 KB GET per second alone for --baseline seconds;
  2. attack: 600 silent clients and 100 slow heads (one byte every 5 s) connect
     at once and never finish a head, while the legitimate client goes on:
     500 take every record, the rest wait in the backlog. Each must be closed
     by the gateway, none before the deadline, all within two deadlines (the
     backlog's deadlines start when they are accepted), and no legitimate
     fetch may take longer than the deadline;
  3. settle: threads and descriptors must come back to the baseline, and RSS
     5 s later must be within 5 % of it.
"""
import argparse
import asyncio
import glob
import multiprocessing
import os
import random
import shutil
import socket
import statistics
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

RATE = 50          # normal requests per second
HOLD = 500         # connections held in phase 2
BURST = 600        # connections opened at once in phase 3
DOWNLOAD_READ = 8192
DOWNLOAD_PERIOD = 0.1  # seconds between reads of a download: about 80 KB/s
SILENT = 600       # silent clients of the deadline scenario
SLOW_HEADS = 100   # its slow heads
SLOW_HEAD_PERIOD = 5  # seconds between their bytes


class Soak:
    def __init__(self, w, name):
        self.w = w
        self.name = name
        self.port = w.ports[name]
        self.origin = w.ports["direct"]
        self.pid = w.procs[name].pid
        self.serial = 0
        self.completed = []      # unique URLs of completed requests
        self.failures = []
        self.latency = {}        # phase -> list of ms
        self.phase = "baseline"
        self.stop_hold = False
        self.head_reopened = 0
        self.downloads_done = 0
        self.download_bytes = 0
        self.samples = []

    def url(self, obj):
        self.serial += 1
        return f"http://127.0.0.1:{self.origin}/{obj}?soak={self.serial}"

    def request(self, url):
        return (f"GET {url} HTTP/1.1\r\nHost: 127.0.0.1:{self.origin}\r\n"
                f"Connection: close\r\n\r\n").encode()

    async def fetch(self, url, send_after=0.0, timeout=60):
        """One request on a new connection; returns the status line or raises."""
        reader, writer = await asyncio.wait_for(asyncio.open_connection("127.0.0.1", self.port), timeout)
        try:
            if send_after:
                await asyncio.sleep(send_after)
            writer.write(self.request(url))
            await writer.drain()
            data = await asyncio.wait_for(reader.read(-1), timeout)
        finally:
            writer.close()
        status = data.split(b"\r\n", 1)[0]
        if not status.startswith(b"HTTP/1.") or b" 200 " not in status + b" ":
            raise RuntimeError(f"answer {status[:60]!r}")
        return data

    async def normal_traffic(self, seconds, rate=RATE):
        """Normal traffic from a process of its own (so that the work of the
        holding connections in this event loop cannot delay it): `rate`
        requests per second through the gateway, and a fifth as many straight
        to the origin as a control of the client side's own delays."""
        context = multiprocessing.get_context("spawn")  # no held socket is inherited
        queue = context.Queue()
        first = self.serial + 1
        self.serial += int(seconds * rate) + 1
        proc = context.Process(target=probe, args=(self.port, self.origin, seconds, first, queue, rate))
        proc.start()
        result = await asyncio.get_running_loop().run_in_executor(None, queue.get)
        proc.join()
        latencies, control, completed, failures = result
        self.latency.setdefault(self.phase, []).extend(latencies)
        self.latency.setdefault(self.phase + " (control: origin direct)", []).extend(control)
        self.completed.extend(completed)
        self.failures.extend(failures)

    async def held_connection(self):
        """A connection to the gateway, or None (after a pause) when refused."""
        try:
            return await asyncio.open_connection("127.0.0.1", self.port)
        except OSError:
            await asyncio.sleep(1)
            return None

    async def slow_head(self):
        while not self.stop_hold:
            connection = await self.held_connection()
            if connection is None:
                continue
            reader, writer = connection
            try:
                writer.write(f"GET {self.url('1k.bin')} HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ".encode())
                await writer.drain()
                while not self.stop_hold:
                    await asyncio.sleep(random.uniform(2, 5))
                    writer.write(b"a")
                    await writer.drain()
                    if reader.at_eof():
                        break
                else:
                    return
                self.head_reopened += 1
            except (ConnectionError, OSError):
                self.head_reopened += 1
            finally:
                writer.close()

    async def download(self):
        while not self.stop_hold:
            url = self.url("4m.bin")
            connection = await self.held_connection()
            if connection is None:
                continue
            reader, writer = connection
            try:
                writer.write(self.request(url))
                await writer.drain()
                got = 0
                while not self.stop_hold:
                    chunk = await asyncio.wait_for(reader.read(DOWNLOAD_READ), 60)
                    if not chunk:
                        break
                    got += len(chunk)
                    self.download_bytes += len(chunk)
                    await asyncio.sleep(DOWNLOAD_PERIOD)
                if not self.stop_hold:
                    if got < 4 * harness.MB:
                        self.failures.append(f"download {url}: {got} bytes")
                    else:
                        self.downloads_done += 1
                        self.completed.append(url)
            except Exception as e:  # noqa: BLE001
                if not self.stop_hold:
                    self.failures.append(f"download {url}: {e!r}")
            finally:
                writer.close()

    async def never_finishing_head(self, start, slow, limit):
        """A connection that never completes its request head (silent, or
        one byte every SLOW_HEAD_PERIOD seconds): the seconds from `start`
        until the gateway closed it, or None when it stayed open `limit`
        seconds or was answered."""
        try:
            reader, writer = await asyncio.open_connection("127.0.0.1", self.port)
        except OSError as e:
            self.failures.append(f"attacker could not connect: {e!r}")
            return None
        kind = "slow head" if slow else "silent client"
        try:
            if slow:
                writer.write(f"GET {self.url('1k.bin')} HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ".encode())
            while time.monotonic() - start < limit:
                try:
                    data = await asyncio.wait_for(reader.read(1), SLOW_HEAD_PERIOD)
                except asyncio.TimeoutError:
                    if slow:
                        writer.write(b"a")
                    continue
                if data:
                    self.failures.append(f"{kind} answered: {data!r}")
                    return None
                return time.monotonic() - start
            self.failures.append(f"{kind} still open after {limit} s")
            return None
        except (ConnectionError, OSError):
            return time.monotonic() - start
        finally:
            writer.close()

    def figures(self):
        pids = [self.pid]
        try:
            fds = len(os.listdir(f"/proc/{self.pid}/fd"))
        except OSError:
            fds = -1
        return {"threads": harness.threads(pids), "fds": fds, "rss": harness.rss_kb(pids)}

    async def sampler(self):
        while not self.stop_hold:
            f = self.figures()
            f["t"] = time.monotonic()
            self.samples.append(f)
            await asyncio.sleep(5)

    async def burst(self):
        url_list = [self.url("1k.bin") for _ in range(BURST)]
        start = time.monotonic()

        async def one(url):
            try:
                await self.fetch(url, send_after=2.0, timeout=120)
                self.completed.append(url)
                return time.monotonic() - start
            except Exception as e:  # noqa: BLE001
                self.failures.append(f"burst {url}: {e!r}")
                return None
        peak = []

        async def watch():
            for _ in range(20):
                await asyncio.sleep(0.25)
                peak.append(self.figures()["threads"])
        watcher = asyncio.ensure_future(watch())
        times = await asyncio.gather(*(one(u) for u in url_list))
        await watcher
        served = sorted(t for t in times if t is not None)
        return served, max(peak)



def probe(port, origin, seconds, first, queue, rate):
    """Paced 1 KB GETs, each on a new connection in a thread of its own."""
    latencies, control, completed, failures = [], [], [], []
    lock = threading.Lock()

    def one(target_port, url, absolute, into):
        path = url if absolute else url.split(str(origin), 1)[1]
        request = (f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1:{origin}\r\nConnection: close\r\n\r\n").encode()
        start = time.monotonic()
        try:
            with socket.create_connection(("127.0.0.1", target_port), timeout=30) as s:
                s.sendall(request)
                data = b""
                while True:
                    chunk = s.recv(65536)
                    if not chunk:
                        break
                    data += chunk
            if not data.startswith(b"HTTP/1.") or b" 200 " not in data.split(b"\r\n", 1)[0] + b" ":
                raise RuntimeError(f"answer {data[:60]!r}")
            if len(data.split(b"\r\n\r\n", 1)[-1]) != 1024:
                raise RuntimeError("body not 1024 bytes")
            with lock:
                into.append((time.monotonic() - start) * 1000)
                if absolute:
                    completed.append(url)
        except Exception as e:  # noqa: BLE001 - every failure is reported
            with lock:
                failures.append(f"normal {url}: {e!r}")

    threads = []
    start = time.monotonic()
    n = 0
    while time.monotonic() - start < seconds:
        url = f"http://127.0.0.1:{origin}/1k.bin?soak={first + n}"
        threads.append(threading.Thread(target=one, args=(port, url, True, latencies)))
        threads[-1].start()
        if n % 5 == 0:
            threads.append(threading.Thread(target=one, args=(origin, url + "-direct", False, control)))
            threads[-1].start()
        n += 1
        time.sleep(max(0, start + n / rate - time.monotonic()))
        threads = [t for t in threads if t.is_alive()]
    for t in threads:
        t.join()
    queue.put((latencies, control, completed, failures))

def percentile(values, p):
    if not values:
        return float("nan")
    values = sorted(values)
    return values[min(len(values) - 1, int(len(values) * p / 100))]


def print_latencies(title, latency, phases):
    """A table of request times per phase."""
    print(f"| {title} | requests | p50 ms | p99 ms | max ms |")
    print("|---|---:|---:|---:|---:|")
    for phase in phases:
        v = latency.get(phase, [])
        print(f"| {phase} | {len(v)} | {percentile(v, 50):.2f} | {percentile(v, 99):.2f} | "
              f"{max(v) if v else float('nan'):.1f} |")


async def baseline(soak, seconds, rate):
    """Ordinary traffic alone, then the gateway's figures at rest."""
    print(f"baseline: {seconds} s of {rate} requests/s", flush=True)
    await soak.normal_traffic(seconds, rate=rate)
    await asyncio.sleep(2)
    base = soak.figures()
    print(f"  gateway: {base['threads']} threads, {base['fds']} descriptors, RSS {base['rss']} KB", flush=True)
    return base


async def run(soak, args):
    base = await baseline(soak, args.baseline, RATE)

    print(f"hold: {HOLD} connections ({HOLD // 2} slow heads, {HOLD // 2} downloads) for {args.duration} s"
          f" with {RATE} requests/s beside them", flush=True)
    soak.phase = "hold"
    holders = [asyncio.ensure_future(soak.slow_head()) for _ in range(HOLD // 2)]
    holders += [asyncio.ensure_future(soak.download()) for _ in range(HOLD // 2)]
    sampler = asyncio.ensure_future(soak.sampler())
    await asyncio.sleep(3)
    await soak.normal_traffic(args.duration)
    soak.stop_hold = True
    await asyncio.gather(*holders, sampler)
    samples = soak.samples or [soak.figures()]
    peak = {k: max(x[k] for x in samples) for k in ("threads", "fds", "rss")}

    print("settling 5 s, then the burst", flush=True)
    await asyncio.sleep(5)
    soak.phase = "burst"
    served, burst_threads = await soak.burst()

    closed_at = time.monotonic()
    back = None
    while time.monotonic() - closed_at < 60:
        f = soak.figures()
        if f["threads"] <= base["threads"] and f["fds"] <= base["fds"]:
            back = (time.monotonic() - closed_at, f)
            break
        await asyncio.sleep(0.5)
    await asyncio.sleep(max(0, 60 - (time.monotonic() - closed_at)))
    final = soak.figures()
    return base, peak, served, burst_threads, back, final


async def run_deadline(soak, args):
    """The deadline scenario; returns its figures and checks."""
    d = args.head_timeout
    base = await baseline(soak, args.baseline, 1)

    print(f"attack: {SILENT} silent clients and {SLOW_HEADS} slow heads, HeadTimeout {d} s, "
          f"one legitimate request per second beside them", flush=True)
    soak.phase = "attack"
    limit = 3 * d + 10
    start = time.monotonic()
    attackers = [asyncio.ensure_future(soak.never_finishing_head(start, False, limit)) for _ in range(SILENT)]
    attackers += [asyncio.ensure_future(soak.never_finishing_head(start, True, limit)) for _ in range(SLOW_HEADS)]
    sampler = asyncio.ensure_future(soak.sampler())
    await asyncio.sleep(1)
    legitimate = asyncio.ensure_future(soak.normal_traffic(2 * d + 5, rate=1))
    closed = await asyncio.gather(*attackers)
    all_closed = time.monotonic() - start
    soak.stop_hold = True
    await asyncio.gather(legitimate, sampler)

    back = None
    while back is None and time.monotonic() - start < all_closed + 10:
        f = soak.figures()
        if f["threads"] <= base["threads"] and f["fds"] <= base["fds"]:
            back = (time.monotonic() - start, f)
        else:
            await asyncio.sleep(0.2)
    await asyncio.sleep(5)
    final = soak.figures()
    samples = soak.samples or [final]
    peak = {k: max(x[k] for x in samples) for k in ("threads", "fds", "rss")}

    silent, slow = closed[:SILENT], closed[SILENT:]
    when = sorted(t for t in closed if t is not None)
    legit = soak.latency.get("attack", [])
    print(f"\n### Deadline: HeadTimeout {d} s, {SILENT} silent clients, {SLOW_HEADS} slow heads\n")
    print("| closed by the gateway | clients | first s | p50 s | last s |")
    print("|---|---:|---:|---:|---:|")
    for name, group in (("silent", silent), ("slow heads", slow)):
        g = sorted(t for t in group if t is not None)
        print(f"| {name} | {len(g)} of {len(group)} | {g[0] if g else float('nan'):.2f} | "
              f"{percentile(g, 50):.2f} | {g[-1] if g else float('nan'):.2f} |")
    print()
    print_latencies("legitimate requests (1 per second)", soak.latency, ("baseline", "attack"))
    print()
    print("| gateway | threads | descriptors | RSS KB |")
    print("|---|---:|---:|---:|")
    print(f"| baseline | {base['threads']} | {base['fds']} | {base['rss']} |")
    print(f"| highest during the attack (sampled every 5 s) | {peak['threads']} | {peak['fds']} | {peak['rss']} |")
    if back:
        print(f"| back to baseline at the first look after the legitimate client ended, {back[0]:.1f} s "
              f"after the attack began | {back[1]['threads']} | "
              f"{back[1]['fds']} | {back[1]['rss']} |")
    print(f"| 5 s later | {final['threads']} | {final['fds']} | {final['rss']} |")
    print(f"\nevery attacker closed {all_closed:.1f} s after the attack began")
    checks = {
        "every attacker closed by the gateway, without an answer": len(when) == len(closed),
        "none closed before the deadline": not when or when[0] >= d - 0.5,
        "all closed within two deadlines": not when or when[-1] <= 2 * d + 2,
        "every legitimate request served": not soak.failures,
        "no legitimate request waited longer than the deadline": bool(legit) and max(legit) <= d * 1000,
        "threads and descriptors back to the baseline": back is not None,
        "RSS within 5 % of the baseline": final["rss"] / base["rss"] <= 1.05,
    }
    return checks


async def run_hold(soak, args):
    """The hold scenario; prints its figures and returns its checks."""
    base, peak, served, burst_threads, back, final = await run(soak, args)
    lat = soak.latency
    print(f"\n### Soak: hold {args.duration} s\n")
    print_latencies("normal traffic", lat,
                    ("baseline", "baseline (control: origin direct)", "hold", "hold (control: origin direct)"))
    print()
    print("| gateway | threads | descriptors | RSS KB |")
    print("|---|---:|---:|---:|")
    print(f"| baseline | {base['threads']} | {base['fds']} | {base['rss']} |")
    print(f"| highest while holding (sampled every 5 s) | {peak['threads']} | {peak['fds']} | {peak['rss']} |")
    if back:
        print(f"| back to baseline after {back[0]:.1f} s | {back[1]['threads']} | {back[1]['fds']} | "
              f"{back[1]['rss']} |")
    print(f"| 60 s after the close | {final['threads']} | {final['fds']} | {final['rss']} |")
    rss_ratio = final["rss"] / base["rss"]
    if args.trim_probe and shutil.which("gdb"):
        # Diagnosis only (the check above uses the figure without it): how
        # much of the retained RSS is free heap the allocator keeps.
        subprocess.run(["gdb", "-p", str(soak.pid), "-batch", "-ex", "call (int) malloc_trim(0)"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        print(f"diagnosis: RSS after malloc_trim(0) called from gdb: {soak.figures()['rss']} KB")
    print(f"\nslow heads opened again after a close by the gateway: {soak.head_reopened}")
    print(f"downloads completed while holding: {soak.downloads_done} "
          f"({soak.download_bytes / harness.MB:.0f} MB read)")
    print(f"burst: {len(served)} of {BURST} served; gateway threads at most {burst_threads} "
          f"(baseline {base['threads']} + at most 500 connection workers); answer times from the "
          f"burst's start (requests sent after 2 s): p50 {percentile(served, 50):.2f} s, "
          f"max {max(served) if served else 0:.2f} s")
    print(f"RSS 60 s after the close / baseline: {rss_ratio:.3f}")
    return {
        "every normal, download and burst request served": not soak.failures,
        f"all {BURST} of the burst served": len(served) == BURST,
        "threads and descriptors back to the baseline": back is not None,
        "RSS within 5 % of the baseline after 60 s": rss_ratio <= 1.05,
    }


def main():
    global HOLD
    ap = argparse.ArgumentParser()
    ap.add_argument("--brindlex", required=True)
    ap.add_argument("--records", required=True)
    ap.add_argument("--duration", type=int, default=600, help="seconds the 500 connections are held")
    ap.add_argument("--baseline", type=int, default=20, help="seconds of normal traffic alone first")
    ap.add_argument("--hold", type=int, default=500, help="connections held in phase 2 (even)")
    ap.add_argument("--scenario", choices=("hold", "deadline"), default="hold",
                    help="hold: the soak of phases 1-4; deadline: clients that never finish a head")
    ap.add_argument("--head-timeout", type=int, default=10, help="HeadTimeout of the deadline scenario (s)")
    ap.add_argument("--keep", action="store_true")
    ap.add_argument("--trim-probe", action="store_true",
                    help="after the checks, call malloc_trim(0) in the gateway from gdb and print its RSS")
    args = ap.parse_args()

    HOLD = args.hold
    w = harness.World(args)
    ok = True
    try:
        harness.start_origin(w, {"1k.bin": 1024, "4m.bin": 4 * harness.MB})
        deadline = args.scenario == "deadline"
        # Every client of the soak is 127.0.0.1, which stands for the whole LAN here.
        system = "MaxConnectionsPerAddress=1000\r\n"
        system += f"HeadTimeout={args.head_timeout}\r\n" if deadline else ""
        harness.start_brindlex(w, "brindlex-user", local=False, system=system)
        soak = Soak(w, "brindlex-user")
        start = time.monotonic()
        checks = asyncio.run(run_deadline(soak, args) if deadline else run_hold(soak, args))
        logs = "".join(open(p, encoding="utf-8", errors="replace").read()
                       for p in glob.glob(os.path.join(w.path("brindlex-user"), "Logging", "*.log")))
        logged = {line.rsplit(", ", 1)[-1] for line in logs.splitlines() if line.startswith("HTTP,")}
        missing = [u for u in soak.completed if u not in logged]
        print(f"completed requests: {len(soak.completed)}; without their connection log line: {len(missing)}")
        print(f"{time.monotonic() - start:.0f} s in all")
        for f in soak.failures[:20]:
            print("FAILURE:", f)
        if len(soak.failures) > 20:
            print(f"... {len(soak.failures) - 20} more failures")
        checks["every completed request logged"] = not missing
        checks["the gateway still runs"] = w.procs["brindlex-user"].poll() is None
        print()
        for name, passed in checks.items():
            print(f"{'ok  ' if passed else 'FAIL'} {name}")
            ok = ok and passed
        for u in missing[:5]:
            print("not logged:", u)
    finally:
        w.stop_all()
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
