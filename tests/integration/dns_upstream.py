#!/usr/bin/env python3
"""Upstream name servers for the DNS forwarder's tests.

Started with `unshare --net` in a network namespace of its own; the test
moves the veth end b0 into it. Serves 10.53.0.2 and 10.53.0.3 on port 53
and can forge answers from 10.53.0.9 port 53. Every query received is
written to the log as "QUERY <server> <id> <type> <name>".

Names: www, cdn, victim, short (TTL 2), zero (TTL 0) under example.test
have one address each; alias.example.test is a CNAME to cdn.example.test
and its answer also carries an address for victim.example.test, which
is no part of the chain; big.example.test has 40 addresses (an answer
longer than 512 bytes); spoof.example.test is answered first by a forger
and then by the server; names ending in silent.example.test are never
answered; anything else is NXDOMAIN.
"""
import select
import socket
import struct
import subprocess
import sys
import time

SERVERS = ["10.53.0.2", "10.53.0.3"]
FORGER = "10.53.0.9"
ZONE = {
    "www.example.test": ("192.0.2.1", 300),
    "cdn.example.test": ("192.0.2.20", 300),
    "victim.example.test": ("192.0.2.99", 300),
    "short.example.test": ("192.0.2.2", 2),
    "zero.example.test": ("192.0.2.30", 0),
}


def log(path, line):
    with open(path, "a") as out:
        out.write(line + "\n")


def labels(name):
    wire = b""
    for label in name.split("."):
        wire += bytes([len(label)]) + label.encode()
    return wire + b"\0"


def a_record(owner_wire, address, ttl):
    return owner_wire + struct.pack(">HHIH", 1, 1, ttl, 4) + socket.inet_aton(address)


def parse_question(data):
    at, parts = 12, []
    while data[at] != 0:
        parts.append(data[at + 1:at + 1 + data[at]].decode("latin-1"))
        at += 1 + data[at]
    qtype = struct.unpack(">H", data[at + 1:at + 3])[0]
    return ".".join(parts), qtype, data[12:at + 5]


def response(query_id, question, records, rcode=0):
    header = struct.pack(">HHHHHH", query_id, 0x8180 | rcode, 1, len(records), 0, 0)
    return header + question + b"".join(records)


def set_up_network():
    deadline = time.time() + 10
    while subprocess.run(["ip", "link", "show", "b0"], capture_output=True).returncode != 0:
        if time.time() > deadline:
            sys.exit("b0 never came")
        time.sleep(0.05)
    commands = [["ip", "link", "set", "lo", "up"]]
    commands += [["ip", "addr", "add", a + "/24", "dev", "b0"] for a in SERVERS + [FORGER]]
    commands += [["ip", "link", "set", "b0", "up"]]
    for command in commands:
        subprocess.run(command, check=True)


def main():
    path = sys.argv[1]
    set_up_network()
    servers = {}
    for address in SERVERS:
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind((address, 53))
        servers[s] = address
    forger = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    forger.bind((FORGER, 53))
    log(path, "ready")
    end = time.time() + 240
    while time.time() < end:
        ready, _, _ = select.select(list(servers), [], [], 1)
        for s in ready:
            data, client = s.recvfrom(4096)
            query_id = struct.unpack(">H", data[:2])[0]
            name, qtype, question = parse_question(data)
            log(path, "QUERY %s %d %d %s" % (servers[s], query_id, qtype, name))
            lower = name.lower()
            if lower.endswith("silent.example.test"):
                continue
            if qtype != 1:
                s.sendto(response(query_id, question, [], 3), client)
            elif lower == "alias.example.test":
                cdn = labels("cdn.example.test")
                alias = b"\xc0\x0c" + struct.pack(">HHIH", 5, 1, 300, len(cdn)) + cdn
                s.sendto(response(query_id, question, [alias, a_record(cdn, "192.0.2.20", 300),
                                                       a_record(labels("victim.example.test"), "6.6.6.6", 300)]),
                         client)
            elif lower == "big.example.test":
                s.sendto(response(query_id, question,
                                  [a_record(b"\xc0\x0c", "10.0.0.%d" % i, 300) for i in range(1, 41)]), client)
            elif lower == "spoof.example.test":
                forger.sendto(response(query_id, question, [a_record(b"\xc0\x0c", "6.6.6.6", 86400)]), client)
                time.sleep(0.3)
                s.sendto(response(query_id, question, [a_record(b"\xc0\x0c", "192.0.2.50", 300)]), client)
            elif lower in ZONE:
                address, ttl = ZONE[lower]
                s.sendto(response(query_id, question, [a_record(b"\xc0\x0c", address, ttl)]), client)
            else:
                s.sendto(response(query_id, question, [], 3), client)


main()
