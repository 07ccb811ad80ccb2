#!/usr/bin/env python3
"""A UDP echo server on 127.0.0.1 for the port-mapping tests.

Binds a port the kernel picks, writes its number to the file named by the
first argument, and sends every datagram back to where it came from,
unchanged, until it is terminated.
"""
import os
import socket
import sys


def main():
    server = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    server.bind(("127.0.0.1", 0))
    port_file = sys.argv[1]
    with open(port_file + ".tmp", "w") as out:
        out.write(str(server.getsockname()[1]))
    # Renamed into place so that the test never reads half a number.
    os.rename(port_file + ".tmp", port_file)
    while True:
        data, source = server.recvfrom(65536)
        server.sendto(data, source)


if __name__ == "__main__":
    main()
