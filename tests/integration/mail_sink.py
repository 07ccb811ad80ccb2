#!/usr/bin/python3
"""A mail server on loopback for the e-mail report tests.

Usage: mail_sink.py PORT FOLDER

Every message it takes is written to FOLDER as NNN.eml: three lines naming
the greeting's identity and the envelope, then the message's bytes exactly as
they arrived. The file appears whole (written aside, then renamed).
"""
import os
import signal
import sys

from aiosmtpd.controller import Controller


class Keep:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        path = os.path.join(self.folder, "%03d" % self.count)
        with open(path + ".tmp", "wb") as out:
            out.write(b"X-Greeting: %s\r\n" % (session.host_name or "").encode())
            out.write(b"X-Envelope-From: %s\r\n" % envelope.mail_from.encode())
            out.write(b"X-Envelope-To: %s\r\n" % ",".join(envelope.rcpt_tos).encode())
            out.write(envelope.original_content)
        os.rename(path + ".tmp", path + ".eml")
        return "250 OK"


def main():
    port, folder = int(sys.argv[1]), sys.argv[2]
    stop = {signal.SIGTERM, signal.SIGINT}
    signal.pthread_sigmask(signal.SIG_BLOCK, stop)
    controller = Controller(Keep(folder), hostname="127.0.0.1", port=port)
    controller.start()
    print("ready", flush=True)
    signal.sigwait(stop)
    controller.stop()


main()
