#!/usr/bin/python3
"""A TCP listener that accepts connections and never answers.

Clients that wait for a greeting or a reply hang here until their own
time-out fires. Whatever they send is read and thrown away, so their writes
never block. Connections beyond --max are closed at once to bound memory.
"""
import argparse
import selectors
import socket


def main():
    p = argparse.ArgumentParser(description="listener that never answers")
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--max", type=int, default=256)
    a = p.parse_args()

    srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind((a.host, a.port))
    srv.listen(64)
    srv.setblocking(False)

    sel = selectors.DefaultSelector()
    sel.register(srv, selectors.EVENT_READ)
    clients = 0
    while True:
        for key, _ in sel.select():
            sock = key.fileobj
            if sock is srv:
                try:
                    conn, _ = srv.accept()
                except OSError:
                    continue
                if clients >= a.max:
                    conn.close()
                    continue
                conn.setblocking(False)
                sel.register(conn, selectors.EVENT_READ)
                clients += 1
                continue
            try:
                data = sock.recv(65536)
            except OSError:
                data = b""
            if not data:
                sel.unregister(sock)
                sock.close()
                clients -= 1


if __name__ == "__main__":
    main()
