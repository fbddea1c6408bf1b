#!/usr/bin/env python3
"""Mail servers for the contact message tests, on 127.0.0.1.

    smtp_server.py MODE OUTDIR

prints "PORT <n>" once it listens and serves until killed. Modes:
  accept        aiosmtpd takes every mail; each one is written to OUTDIR/mail-<n>.json with its
                envelope, its headers and its body decoded by Python's email package
  refuse-rcpt   aiosmtpd refuses every recipient with 550
  close-in-data answers like a server up to DATA, then closes the connection in the middle of
                the message
  silent        accepts connections and never answers
  trickle       sends an endless greeting of continuation lines, one byte every 0.2 s, for 30 s,
                then writes OUTDIR/trickle.txt: "client-left" when the client hung up first,
                "server-ended" when the 30 s ran out
"""

import asyncio
import email
import email.policy
import json
import os
import socket
import sys
import threading
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Saver:
    def __init__(self, outdir, refuse_rcpt):
        self.outdir = outdir
        self.refuse_rcpt = refuse_rcpt
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.refuse_rcpt:
            return "550 No such user here"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        message = email.message_from_bytes(envelope.original_content, policy=email.policy.compat32)
        payload = message.get_payload(decode=True)
        charset = message.get_content_charset() or "ascii"
        record = {
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "helo": session.host_name,
            "from": message["From"],
            "to": message["To"],
            "subject": message["Subject"],
            "content_type": message.get_content_type(),
            "charset": charset,
            "transfer_encoding": message["Content-Transfer-Encoding"],
            "body": payload.decode(charset).replace("\r\n", "\n"),
            "raw": envelope.original_content.decode("latin-1"),
        }
        self.count += 1
        path = os.path.join(self.outdir, "mail-%d.json" % self.count)
        with open(path + ".part", "w", encoding="utf-8") as f:
            json.dump(record, f, ensure_ascii=False)
        os.rename(path + ".part", path)
        return "250 Message accepted for delivery"


def serve_aiosmtpd(outdir, refuse_rcpt):
    from aiosmtpd.controller import Controller

    port = free_port()
    controller = Controller(Saver(outdir, refuse_rcpt), hostname="127.0.0.1", port=port)
    controller.start()
    print("PORT %d" % port, flush=True)
    while True:
        time.sleep(3600)


def serve_raw(mode, outdir):
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    print("PORT %d" % listener.getsockname()[1], flush=True)
    held = []

    def trickle(conn):
        greeting = b"220-test ESMTP, slowly\r\n" * 100
        ended = "server-ended"
        conn.settimeout(0.2)
        start = time.monotonic()
        sent = 0
        try:
            while time.monotonic() - start < 30:
                conn.sendall(greeting[sent % len(greeting):][:1])
                sent += 1
                try:
                    if conn.recv(64) == b"":
                        ended = "client-left"
                        break
                except socket.timeout:
                    pass
        except OSError:
            ended = "client-left"
        conn.close()
        with open(os.path.join(outdir, "trickle.txt.part"), "w") as f:
            f.write(ended)
        os.rename(os.path.join(outdir, "trickle.txt.part"), os.path.join(outdir, "trickle.txt"))

    def talk(conn):
        if mode == "trickle":
            trickle(conn)
            return
        if mode == "silent":
            held.append(conn)  # kept open, never answered
            return
        f = conn.makefile("rb")
        conn.sendall(b"220 test ESMTP\r\n")
        for line in f:
            verb = line.strip().split(b" ")[0].upper()
            if verb == b"DATA":
                conn.sendall(b"354 End data with <CR><LF>.<CR><LF>\r\n")
                f.readline()  # the first line of the message, then the line goes dead
                conn.shutdown(socket.SHUT_RDWR)
                conn.close()
                return
            if verb == b"QUIT":
                conn.sendall(b"221 Bye\r\n")
                conn.close()
                return
            conn.sendall(b"250 OK\r\n")

    while True:
        conn, _ = listener.accept()
        threading.Thread(target=talk, args=(conn,), daemon=True).start()


def main():
    mode, outdir = sys.argv[1], sys.argv[2]
    if mode in ("accept", "refuse-rcpt"):
        serve_aiosmtpd(outdir, mode == "refuse-rcpt")
    else:
        serve_raw(mode, outdir)


if __name__ == "__main__":
    main()
