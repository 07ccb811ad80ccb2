#!/usr/bin/python3
"""Mail servers for the integration tests, on 127.0.0.1 only.

Usage: mail_peer.py MODE PORT LOG [GREETING]

  smtp   a real SMTP server (aiosmtpd); each message it takes is appended to
         LOG as "FROM <sender> TO <recipients>" and its content.
  smtp-stub, pop3-stub
         a server that appends every byte it receives to LOG as it came,
         greets with GREETING (default "220 stub ready" or "+OK stub ready")
         and answers each command line with one fixed reply, so that a test
         sees exactly what reached it.
"""
import asyncio
import socketserver
import sys

SMTP_REPLIES = {
    b"EHLO": b"250-stub greets you\r\n250-PIPELINING\r\n250 8BITMIME\r\n",
    b"HELO": b"250 stub greets you\r\n",
    b"MAIL": b"250 2.1.0 sender ok\r\n",
    b"RCPT": b"250 2.1.5 recipient ok\r\n",
    b"DATA": b"354 go ahead\r\n",
    b"QUIT": b"221 bye\r\n",
}
POP3_REPLIES = {
    b"USER": b"+OK user accepted\r\n",
    b"PASS": b"+OK 1 message\r\n",
    b"STAT": b"+OK 1 5\r\n",
    b"QUIT": b"+OK bye\r\n",
}


def stub(port, log_path, greeting, replies, unknown):
    class Handler(socketserver.StreamRequestHandler):
        def handle(self):
            self.wfile.write(greeting + b"\r\n")
            in_data = False
            for line in self.rfile:
                with open(log_path, "ab") as log:
                    log.write(line)
                if in_data:
                    if line == b".\r\n":
                        in_data = False
                        self.wfile.write(b"250 queued\r\n")
                    continue
                verb = line[:4].upper()
                self.wfile.write(replies.get(verb, unknown))
                if verb == b"DATA" and replies is SMTP_REPLIES:
                    in_data = True
                if verb == b"QUIT":
                    return

    socketserver.ThreadingTCPServer.allow_reuse_address = True
    with socketserver.ThreadingTCPServer(("127.0.0.1", port), Handler) as server:
        server.serve_forever()


def smtp(port, log_path):
    from aiosmtpd.smtp import SMTP

    class Recorder:
        async def handle_DATA(self, server, session, envelope):
            with open(log_path, "ab") as log:
                log.write(b"FROM " + envelope.mail_from.encode() + b" TO " +
                          ",".join(envelope.rcpt_tos).encode() + b"\n")
                log.write(envelope.original_content)
            return "250 Message accepted for delivery"

    async def serve():
        loop = asyncio.get_running_loop()
        server = await loop.create_server(lambda: SMTP(Recorder(), hostname="peer.test"), "127.0.0.1", port)
        async with server:
            await server.serve_forever()

    asyncio.run(serve())


def main():
    mode, port, log_path = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    greeting = sys.argv[4].encode() if len(sys.argv) > 4 else None
    open(log_path, "ab").close()
    if mode == "smtp":
        smtp(port, log_path)
    elif mode == "smtp-stub":
        stub(port, log_path, greeting or b"220 stub ready", SMTP_REPLIES, b"250 ok\r\n")
    elif mode == "pop3-stub":
        stub(port, log_path, greeting or b"+OK stub ready", POP3_REPLIES, b"-ERR unknown command\r\n")
    else:
        sys.exit("unknown mode " + mode)


main()
