#!/usr/bin/env python3
"""Holds many connections to 127.0.0.1:PORT, for run_bench.sh.

  hold_conns.py PORT READY_FILE SECONDS MODE ADDRESS:COUNT...

MODE idle: the connections never send a byte. MODE trickle: every other one
sends a request head that never ends, one byte per half second. READY_FILE
is written ("opened N failed M") once every connection was tried; the
program ends by itself after SECONDS, or earlier when killed.
"""
import selectors
import socket
import sys
import time


def main():
    port, ready, seconds, mode = int(sys.argv[1]), sys.argv[2], float(sys.argv[3]), sys.argv[4]
    deadline = time.monotonic() + seconds
    held, failed = [], 0
    for holder in sys.argv[5:]:
        address, count = holder.rsplit(":", 1)
        for _ in range(int(count)):
            if time.monotonic() > deadline:
                break
            s = socket.socket()
            s.settimeout(3)
            try:
                s.bind((address, 0))
                s.connect(("127.0.0.1", port))
            except OSError:
                failed += 1
                s.close()
                continue
            s.setblocking(False)
            held.append(s)
    with open(ready, "w") as f:
        f.write("opened %d failed %d\n" % (len(held), failed))
    # A head that never completes: what a slow attacker sends to hold a place.
    head = b"GET /never HTTP/1.1\r\nHost: bench\r\nX-Pad: " + b"a" * 4096
    trickling = held[::2] if mode == "trickle" else []
    sent = 0
    sel = selectors.DefaultSelector()  # epoll: select() stops at 1024 descriptors
    for s in held:
        sel.register(s, selectors.EVENT_READ)
    while time.monotonic() < deadline:
        for s in trickling:
            if s.fileno() >= 0 and sent < len(head):
                try:
                    s.send(head[sent:sent + 1])
                except OSError:
                    pass
        sent += 1
        # Whatever the server sends or closes is read and dropped, so a closed
        # place does not linger as an unread socket on this side.
        for key, _ in sel.select(timeout=0.5):
            s = key.fileobj
            try:
                if s.recv(65536):
                    continue
            except OSError:
                pass
            sel.unregister(s)
            s.close()


if __name__ == "__main__":
    main()
