#!/usr/bin/python3
"""A real FTP server for the integration tests, on 127.0.0.1 only.

Usage: ftp_server.py PORT ROOT [no-pasv | elsewhere]

Anonymous users and "alice" (password "secret") read ROOT. With "no-pasv"
the server refuses PASV, so clients must use active mode; with "elsewhere"
its 227 answers name 10.9.8.7 instead of its own address. The greeting has
two lines, so that a multi-line reply is always part of the dialogue.
"""
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


class NoPassiveHandler(FTPHandler):
    def ftp_PASV(self, line):
        self.respond("502 Passive mode not allowed here.")


def main():
    port, root = int(sys.argv[1]), sys.argv[2]
    flags = sys.argv[3:]
    authorizer = DummyAuthorizer()
    authorizer.add_anonymous(root)
    authorizer.add_user("alice", "secret", root, perm="elr")
    handler = NoPassiveHandler if "no-pasv" in flags else FTPHandler
    handler.authorizer = authorizer
    if "elsewhere" in flags:
        handler.masquerade_address = "10.9.8.7"
    # Longer than 75 characters: sent as "220-<banner>" and "220 ".
    handler.banner = "Test server ready; this greeting is long enough to come as a reply of two lines."
    # The gateway's data connections come from 127.0.0.1 like its control
    # connection; the port it names in PORT is its own listening socket.
    handler.permit_foreign_addresses = False
    logging.basicConfig(level=logging.INFO, stream=sys.stderr, format="%(message)s")
    server = FTPServer(("127.0.0.1", port), handler)
    server.serve_forever()


main()
