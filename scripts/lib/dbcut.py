#!/usr/bin/python3
"""A relay in front of the database that loses the connection mid-statement.

Bytes pass through unchanged both ways. When the client sends a statement
(COM_QUERY) that contains the --trigger text, the relay forwards it, lets
the server run it, and when the answer starts it closes both sides instead
of passing the answer on: to the client the connection broke in the middle
of the statement.

  always  every such statement is cut
  once    a statement is cut unless its connection began with a KILL: that is
          how the client's one reconnect after a lost connection starts, so
          each statement the program runs is cut once and its retry passes

The relay keeps no state between connections, so several clients (both
builds at once) can share it.
"""
import argparse
import socket
import sys
import threading

COM_QUERY = 0x03
COM_PROCESS_KILL = 0x0C


class Pair:
    def __init__(self, client, server, trigger, mode, log):
        self.client = client
        self.server = server
        self.trigger = trigger
        self.mode = mode
        self.log = log
        self.lock = threading.Lock()
        self.pending_cut = False
        self.reconnect = False
        self.commands = 0
        self.closed = False

    def close(self):
        with self.lock:
            if self.closed:
                return
            self.closed = True
        for s in (self.client, self.server):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            s.close()

    def inspect(self, seq, payload):
        """Looks at one whole client packet; commands start with sequence 0."""
        if seq != 0 or not payload:
            return
        cmd = payload[0]
        first = self.commands == 0
        self.commands += 1
        if cmd == COM_PROCESS_KILL or (cmd == COM_QUERY and payload[1:5].upper() == b"KILL"):
            if first:
                self.reconnect = True
            return
        if cmd == COM_QUERY and self.trigger in payload:
            if self.mode == "always" or not self.reconnect:
                with self.lock:
                    self.pending_cut = True
                self.log("cut a statement containing %r" % self.trigger.decode("utf-8", "replace"))

    def client_to_server(self):
        buf = b""
        try:
            while True:
                data = self.client.recv(65536)
                if not data:
                    break
                buf += data
                # Forward whole packets only, so each is looked at once.
                while len(buf) >= 4:
                    length = int.from_bytes(buf[0:3], "little")
                    if len(buf) < 4 + length:
                        break
                    packet, buf = buf[:4 + length], buf[4 + length:]
                    self.inspect(packet[3], packet[4:])
                    self.server.sendall(packet)
        except OSError:
            pass
        self.close()

    def server_to_client(self):
        try:
            while True:
                data = self.server.recv(65536)
                if not data:
                    break
                with self.lock:
                    cut = self.pending_cut
                if cut:
                    break
                self.client.sendall(data)
        except OSError:
            pass
        self.close()


def main():
    p = argparse.ArgumentParser(description="database relay that cuts chosen statements")
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--upstream-port", type=int, required=True)
    p.add_argument("--trigger", required=True, help="text of the statements to cut")
    p.add_argument("--mode", choices=["always", "once"], default="always")
    a = p.parse_args()

    def log(text):
        print(text, flush=True)

    srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind((a.host, a.port))
    srv.listen(64)
    trigger = a.trigger.encode("utf-8")
    while True:
        try:
            client, _ = srv.accept()
        except OSError:
            continue
        try:
            server = socket.create_connection((a.host, a.upstream_port), timeout=10)
            server.settimeout(None)
        except OSError as err:
            log("upstream %d: %s" % (a.upstream_port, err))
            client.close()
            continue
        for s in (client, server):
            s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        pair = Pair(client, server, trigger, a.mode, log)
        threading.Thread(target=pair.client_to_server, daemon=True).start()
        threading.Thread(target=pair.server_to_client, daemon=True).start()


if __name__ == "__main__":
    sys.exit(main())
