#!/usr/bin/python3
"""An HTTP server that stalls in the middle of a program download.

It serves a folder like the update server. A file whose name ends in one of
the --stall texts (.exe when none is given) is answered with its headers (the full Content-Length)
and the first half of its body; then the server says nothing more and keeps
the connection open for --hold seconds, as a server whose disk or uplink
hangs would. Every other file is served whole.
"""
import argparse
import http.server
import os
import time
import urllib.parse


def make_handler(root, suffixes, hold):
    class Handler(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *args, **kwargs):
            super().__init__(*args, directory=root, **kwargs)

        def do_GET(self):
            path = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path)
            if not path.endswith(suffixes):
                return super().do_GET()
            local = self.translate_path(self.path)
            if not os.path.isfile(local):
                return super().do_GET()
            with open(local, "rb") as f:
                body = f.read()
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body[:len(body) // 2])
            self.wfile.flush()
            self.log_message("stalled %s after %d of %d bytes", path, len(body) // 2, len(body))
            deadline = time.monotonic() + hold
            # Silence; the client hanging up ends the wait early.
            self.connection.settimeout(1.0)
            while time.monotonic() < deadline:
                try:
                    if not self.connection.recv(4096):
                        break
                except TimeoutError:
                    continue
                except OSError:
                    break
            self.close_connection = True

    return Handler


def main():
    p = argparse.ArgumentParser(description="HTTP server that stalls mid-download")
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--directory", required=True)
    p.add_argument("--stall", action="append", help="end of the names of the files that stall (.exe when none given)")
    p.add_argument("--hold", type=float, default=120.0, help="seconds of silence before closing")
    a = p.parse_args()
    server = http.server.ThreadingHTTPServer(
        (a.host, a.port), make_handler(a.directory, tuple(a.stall or [".exe"]), a.hold))
    server.daemon_threads = True
    server.serve_forever()


if __name__ == "__main__":
    main()
