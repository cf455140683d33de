#!/usr/bin/python3
"""HTTPS twin of the update server: serves a folder over TLS, or answers
every GET with a redirect to a plain-HTTP address (--redirect BASE), the way
a misconfigured or hostile server would lead a client off TLS.

Runs with Debian's /usr/bin/python3.
"""
import argparse
import functools
import http.server
import ssl


class Redirect(http.server.BaseHTTPRequestHandler):
    target = ""

    def do_GET(self):
        self.send_response(302)
        self.send_header("Location", self.target + self.path)
        self.send_header("Content-Length", "0")
        self.end_headers()


def main():
    p = argparse.ArgumentParser(description="HTTPS server of the local test environment")
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--cert", required=True)
    p.add_argument("--key", required=True)
    p.add_argument("--directory")
    p.add_argument("--redirect", help="send every GET to this base address instead")
    a = p.parse_args()

    if a.redirect:
        Redirect.target = a.redirect.rstrip("/")
        handler = Redirect
    else:
        handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=a.directory)
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(a.cert, a.key)
    server = http.server.ThreadingHTTPServer((a.host, a.port), handler)
    server.socket = ctx.wrap_socket(server.socket, server_side=True)
    print("serving https on %s:%d" % (a.host, a.port), flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
